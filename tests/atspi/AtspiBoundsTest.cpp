// A read of the browser's address is bounded in total, whatever the peer does: a browser that
// answers every call late, a tree too large to walk, an X server grabbed by another client.
#include "platform/RealClock.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/atspi/X11WindowTitle.h"
#include "tests/support/DesktopSession.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

namespace fennimar {
namespace {

using test::DesktopSession;

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
