#include "platform/Sleep.h"
#include "platform/VirtualClock.h"

#include <QCoroTask>
#include <gtest/gtest.h>

#include <vector>

using namespace fennimar;
using namespace std::chrono_literals;

// The virtual clock itself is not tested here: every test on virtual time runs on it, and a fault in
// it fails those. sleepFor is the agent's own: its loops end through it.
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
