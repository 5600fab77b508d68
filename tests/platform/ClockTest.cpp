#include "platform/Sleep.h"
#include "platform/VirtualClock.h"

#include <QCoroTask>
#include <gtest/gtest.h>

#include <vector>

using namespace fennimar;
using namespace std::chrono_literals;

TEST(VirtualClock, FiresTimersInDeadlineOrderAndMovesNowToEachDeadline)
{
    VirtualClock clock;
    const QDateTime start = clock.now();
    std::vector<std::pair<int, qint64>> fired;
    auto record = [&](int id) { return [&, id] { fired.emplace_back(id, start.msecsTo(clock.now())); }; };
    auto c = clock.callAfter(3000ms, record(3));
    auto a = clock.callAfter(1000ms, record(1));
    auto b1 = clock.callAfter(2000ms, record(21));
    auto b2 = clock.callAfter(2000ms, record(22));  // same deadline: scheduling order
    EXPECT_EQ(clock.advance(2500ms), 3);
    EXPECT_EQ(fired, (std::vector<std::pair<int, qint64>>{{1, 1000}, {21, 2000}, {22, 2000}}));
    EXPECT_EQ(start.msecsTo(clock.now()), 2500);
    clock.advance(500ms);
    EXPECT_EQ(fired.back(), (std::pair<int, qint64>{3, 3000}));
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

TEST(VirtualClock, RepeatingTimerRunsEveryIntervalUntilCancelledEvenFromItsOwnCallback)
{
    VirtualClock clock;
    int ticks = 0;
    TimerHandle handle;
    handle = clock.callEvery(1000ms, [&] {
        if (++ticks == 5)
            handle.cancel();
    });
    clock.advance(3600s);
    EXPECT_EQ(ticks, 5);
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

TEST(VirtualClock, DestroyingTheHandleCancelsAndAnHourOfLoopsIsCheap)
{
    VirtualClock clock;
    int fired = 0;
    {
        auto gone = clock.callAfter(10ms, [&] { ++fired; });
    }
    clock.advance(1s);
    EXPECT_EQ(fired, 0);

    int a = 0, b = 0, c = 0;
    auto t1 = clock.callEvery(1s, [&] { ++a; });
    auto t2 = clock.callEvery(15s, [&] { ++b; });
    auto t3 = clock.callEvery(300s, [&] { ++c; });
    clock.advance(3600s);
    EXPECT_EQ(a, 3600);
    EXPECT_EQ(b, 240);
    EXPECT_EQ(c, 12);
}

TEST(VirtualClock, WallClockJumpsWithoutMovingTimers)
{
    VirtualClock clock;
    const QDateTime before = clock.now();
    int fired = 0;
    auto t = clock.callAfter(10s, [&] { ++fired; });
    clock.jumpWallClock(-3600s);
    EXPECT_EQ(before.secsTo(clock.now()), -3600);
    clock.advance(10s);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(clock.monotonic(), Millis(10000));
}

namespace {
QCoro::Task<void> sleeper(Clock &clock, Millis d, CancelToken token, std::vector<bool> &results)
{
    const bool slept = co_await sleepFor(clock, d, token);
    results.push_back(slept);
}

QCoro::Task<void> loop(Clock &clock, CancelToken token, int &cycles)
{
    while (!token.isCancelled()) {
        ++cycles;
        const bool slept = co_await sleepFor(clock, 15s, token);
        if (!slept)
            break;
    }
}
}  // namespace

TEST(Sleep, ReturnsTrueAfterTheDelayAndFalseAtOnceWhenCancelled)
{
    VirtualClock clock;
    std::vector<bool> results;
    CancelToken token;
    sleeper(clock, 10s, token, results);
    clock.advance(9999ms);
    EXPECT_TRUE(results.empty());
    clock.advance(1ms);
    EXPECT_EQ(results, std::vector<bool>{true});

    CancelToken other;
    sleeper(clock, 300s, other, results);
    clock.advance(1s);
    other.cancel();
    EXPECT_EQ(results.size(), 1u);  // resumes on the next turn, not inside cancel()
    clock.runDue();
    EXPECT_EQ(results, (std::vector<bool>{true, false}));
    EXPECT_EQ(clock.pendingTimers(), 0u);

    sleeper(clock, 5s, other, results);  // already cancelled: does not wait at all
    EXPECT_EQ(results.back(), false);
    EXPECT_EQ(results.size(), 3u);
}

TEST(Sleep, ACancelledLoopEndsAtTheTopOfItsNextCycle)
{
    VirtualClock clock;
    CancelToken token;
    int cycles = 0;
    loop(clock, token, cycles);
    clock.advance(60s);
    EXPECT_EQ(cycles, 5);
    token.cancel();
    clock.runDue();
    clock.advance(600s);
    EXPECT_EQ(cycles, 5);
    EXPECT_EQ(clock.pendingTimers(), 0u);
}
