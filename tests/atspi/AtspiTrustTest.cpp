#include "platform/VirtualClock.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace fennimar {
namespace {

using namespace std::chrono_literals;
using test::DesktopSession;

#define START_DESKTOP_OR_SKIP(desktop, mode)                                                 \
    do {                                                                                     \
        if (const QString why = (desktop).start(mode); !why.isEmpty())                       \
            GTEST_SKIP() << "AT-SPI desktop unavailable, test NOT run: " << qPrintable(why); \
    } while (0)

const AddressOutcome noAddress = AddressOutcome::unreadable(AddressOutcome::noAddressFound);

// Virtual time stands still while the event loop runs.
bool waitUntil(const std::function<bool()> &pred)
{
    return test::waitUntil(pred, 3000);
}

TEST(AtspiTrust, WithoutAnAccessibilityBusNothingIsTrustedAndNothingIsAsked)
{
    DesktopSession desktop;
    START_DESKTOP_OR_SKIP(desktop, DesktopSession::Bus::Bare);
    VirtualClock clock;
    AtspiAccessibility accessibility(clock, desktop.sessionBus());
    EXPECT_FALSE(accessibility.isTrusted());
    EXPECT_EQ(accessibility.readAddress(1), AddressOutcome::noPermission());
    accessibility.requestTrust();  // logs its failure, never throws
    clock.advance(5s);
    EXPECT_FALSE(accessibility.isTrusted());
}

TEST(AtspiTrust, FollowsTheDesktopSwitchAndRequestTurnsItOn)
{
    DesktopSession desktop;
    START_DESKTOP_OR_SKIP(desktop, DesktopSession::Bus::Accessibility);
    VirtualClock clock;
    AtspiAccessibility accessibility(clock, desktop.sessionBus());
    EXPECT_FALSE(accessibility.isTrusted());
    EXPECT_EQ(accessibility.readAddress(1), AddressOutcome::noPermission());

    accessibility.requestTrust();
    EXPECT_TRUE(accessibility.isTrusted());  // a request forgets the remembered answer

    // Turned off and on elsewhere: noticed from the launcher's signal as soon as the event loop
    // delivers it, with no time passing and no query in between.
    ASSERT_TRUE(desktop.setAccessibility(false));
    EXPECT_TRUE(waitUntil([&] { return !accessibility.isTrusted(); }));
    ASSERT_TRUE(desktop.setAccessibility(true));
    EXPECT_TRUE(waitUntil([&] { return accessibility.isTrusted(); }));

    // A process that is not on the accessibility bus (this test itself) has no address.
    EXPECT_EQ(accessibility.readAddress(QCoreApplication::applicationPid()), noAddress);
}

TEST(AtspiSettings, OpensTheFirstKnownPanelAndOtherwiseSaysNo)
{
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString record = bin.filePath(QStringLiteral("called"));
    test::ScopedEnv path("PATH", bin.path().toUtf8());
    VirtualClock clock;
    AtspiAccessibility accessibility(clock, QDBusConnection(QStringLiteral("no such connection")));

    EXPECT_FALSE(accessibility.openSettings());

    QFile script(bin.filePath(QStringLiteral("gnome-control-center")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$@\" > %1\n").arg(record).toUtf8());
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);

    EXPECT_TRUE(accessibility.openSettings());
    EXPECT_TRUE(test::waitUntil([&] { return QFile::exists(record); }, 5000));
    QFile called(record);
    ASSERT_TRUE(called.open(QIODevice::ReadOnly));
    EXPECT_EQ(called.readAll().trimmed(), QByteArray("universal-access"));
}

}  // namespace
}  // namespace fennimar
