// The AT-SPI reader without browsers: what it sends the bridge, how it sorts errors, and its trust
// following the desktop's switch.
#include "platform/VirtualClock.h"
#include "platform/linux/atspi/AtspiCaller.h"
#include "platform/linux/atspi/AtspiTypes.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "tests/support/DesktopSession.h"

#include <QCoreApplication>
#include <QDBusMetaType>

#include <gtest/gtest.h>

#include <climits>

namespace fennimar {
namespace {

using namespace std::chrono_literals;
using test::DesktopSession;

TEST(AtspiRules, BitSetsAndSignatureAreWhatTheBridgeReads)
{
    atspi::registerTypes();
    // Role 95 is the top bit of word 2: it must travel as a negative int, not be dropped.
    const atspi::MatchRule documents = atspi::showingDocumentRule();
    EXPECT_EQ(documents.roles, (QList<int>{0, 0, INT_MIN, 0}));
    EXPECT_EQ(documents.states, (QList<int>{1 << 25, 0}));
    EXPECT_EQ(documents.roleMatch, atspi::MatchAny);  // ALL never matches roles in the bridge
    // The bridge drops every object when an unused criterion's type is INVALID (0).
    EXPECT_EQ(documents.attributeMatch, atspi::MatchAll);
    EXPECT_EQ(documents.interfaceMatch, atspi::MatchAll);
    EXPECT_STREQ(QDBusMetaType::typeToSignature(QMetaType::fromType<atspi::MatchRule>()), "(aiia{ss}iaiiasib)");
    EXPECT_FALSE(atspi::hasState({0xffffffffu}, 32));  // a short set from the wire is not read past its end
}

TEST(AtspiRules, ErrorsAreSortedByWhatTheReaderDoesNext)
{
    using F = atspi::AtspiCaller::Failure;
    const std::pair<const char *, F> cases[] = {
        {"NoReply", F::Hung},        {"Timeout", F::Hung},
        {"ServiceUnknown", F::Gone}, {"UnknownMethod", F::Unsupported},
        {"UnknownObject", F::Other},  // a vanished object inside a live browser is ordinary
    };
    for (const auto &[name, failure] : cases)
        EXPECT_EQ(atspi::AtspiCaller::classify(QStringLiteral("org.freedesktop.DBus.Error.") + name), failure) << name;
}

TEST(AtspiTrust, FollowsTheDesktopSwitchAndARequestTurnsItOn)
{
    DesktopSession desktop;
    if (const QString why = desktop.start(DesktopSession::Bus::Accessibility); !why.isEmpty())
        GTEST_SKIP() << "AT-SPI desktop unavailable, test NOT run: " << qPrintable(why);
    VirtualClock clock;
    AtspiAccessibility accessibility(clock, desktop.sessionBus());
    EXPECT_FALSE(accessibility.isTrusted());
    EXPECT_EQ(accessibility.readAddress(1), AddressOutcome::noPermission());
    accessibility.requestTrust();
    clock.advance(5s);
    EXPECT_TRUE(accessibility.isTrusted());
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

}  // namespace
}  // namespace fennimar
