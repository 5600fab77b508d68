// The AT-SPI reader without browsers: what it sends the bridge, how it sorts errors, its trust following
// the desktop's switch, and a read bounded in total whatever the peer does (late, endless, an X grab).
#include "platform/RealClock.h"
#include "platform/VirtualClock.h"
#include "platform/linux/atspi/AtspiCaller.h"
#include "platform/linux/atspi/AtspiTypes.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/atspi/X11WindowTitle.h"
#include "tests/support/DesktopSession.h"

#include <QCoreApplication>
#include <QDBusMetaType>
#include <QElapsedTimer>
#include <QProcess>

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

// Starts a peer of SlowPeer.cpp and waits for its word that it is ready.
bool startPeer(QProcess &peer, const QStringList &args, const char *word)
{
    peer.start(QStringLiteral(SLOW_PEER), args);
    return peer.waitForReadyRead(10000) && peer.readLine().trimmed() == word;
}

TEST(AtspiBounds, AReadAndATitleCostAtMostTheirBudgets)
{
    DesktopSession desktop;
    if (const QString why = desktop.start(DesktopSession::Bus::Bare); !why.isEmpty())
        GTEST_SKIP() << "no private desktop, test NOT run: " << qPrintable(why);
    // No Collection: the read falls back to the walk, whose every call is 150 ms late; or every answer
    // comes within a millisecond, but the tree never ends: 1,500 elements would take seconds.
    for (const auto &[delayMs, backsOff] : {std::pair{150, false}, {1, true}}) {
        SCOPED_TRACE(delayMs);
        QProcess peer;
        ASSERT_TRUE(
            startPeer(peer, {"slow-peer", desktop.sessionBusAddress(), QString::number(delayMs), "20000"}, "ready"));
        RealClock clock;
        AtspiAccessibility accessibility(clock, desktop.sessionBus());
        ASSERT_TRUE(accessibility.isTrusted());
        // The first read wakes the application; the later ones are the browser's usual reads.
        for (int read = 1; read <= 3; ++read) {
            QElapsedTimer took;
            took.start();
            // Which reason depends on where a loaded machine's 200 ms ran out; that it ran out does not.
            EXPECT_EQ(accessibility.readAddress(peer.processId()).kind, AddressOutcome::Kind::Unreadable);
            EXPECT_LE(took.elapsed(), 200 + delayMs + 30) << "the budget is 200 ms; 30 ms more for a busy machine";
        }
        // A woken browser that spent its budget is then left alone, as after a timeout; a slow one
        // runs out of every read while waking it.
        EXPECT_EQ(accessibility.lastReadRequests() == 0, backsOff);
        peer.kill();
        peer.waitForFinished(5000);
    }

    atspi::X11WindowTitle title(desktop.display());
    title.activeTitle();  // connected before the grab, as in a running agent
    QProcess grabber;
    ASSERT_TRUE(startPeer(grabber, {"x-grab", QString::fromLatin1(desktop.display()), "1000"}, "grabbed"));
    QElapsedTimer took;
    took.start();
    EXPECT_EQ(title.activeTitle(), QString());
    EXPECT_LT(took.elapsed(), 50 + 50) << "the X deadline is 50 ms; a busy machine may add a little";
    grabber.waitForFinished(10000);
}

}  // namespace
}  // namespace fennimar
