#include "platform/VirtualClock.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "tests/support/DesktopSession.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace fennimar {
namespace {

using namespace std::chrono_literals;
using test::DesktopSession;

TEST(AtspiTrust, FollowsTheDesktopSwitchAndARequestTurnsItOn)
{
    for (const auto bus : {DesktopSession::Bus::Bare, DesktopSession::Bus::Accessibility}) {
        DesktopSession desktop;
        if (const QString why = desktop.start(bus); !why.isEmpty())
            GTEST_SKIP() << "AT-SPI desktop unavailable, test NOT run: " << qPrintable(why);
        VirtualClock clock;
        AtspiAccessibility accessibility(clock, desktop.sessionBus());
        EXPECT_FALSE(accessibility.isTrusted());
        EXPECT_EQ(accessibility.readAddress(1), AddressOutcome::noPermission());
        accessibility.requestTrust();  // without an accessibility bus it logs its failure
        clock.advance(5s);
        EXPECT_EQ(accessibility.isTrusted(), bus == DesktopSession::Bus::Accessibility);
        if (bus == DesktopSession::Bus::Bare)
            continue;
        // Turned off and on elsewhere: noticed from the launcher's signal as soon as the event loop
        // delivers it (virtual time stands still), with no query in between.
        ASSERT_TRUE(desktop.setAccessibility(false));
        EXPECT_TRUE(test::waitUntil([&] { return !accessibility.isTrusted(); }, 3000));
        ASSERT_TRUE(desktop.setAccessibility(true));
        EXPECT_TRUE(test::waitUntil([&] { return accessibility.isTrusted(); }, 3000));
        // A process that is not on the accessibility bus (this test itself) has no address.
        EXPECT_EQ(accessibility.readAddress(QCoreApplication::applicationPid()),
                  AddressOutcome::unreadable(AddressOutcome::noAddressFound));
    }
}

}  // namespace
}  // namespace fennimar
