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
    results.push_back(co_await sleepFor(clock, d, token));
}
}  // namespace

TEST(Sleep, ReturnsTrueAfterTheDelayAndFalseOnTheNextTurnWhenCancelled)
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
    EXPECT_EQ(results.size(), 1u) << "resumes on the next turn, not inside cancel()";
    clock.runDue();
    EXPECT_EQ(results, (std::vector<bool>{true, false}));
    EXPECT_EQ(clock.pendingTimers(), 0u);

    sleeper(clock, 5s, other, results);  // already cancelled: does not wait at all
    EXPECT_EQ(results, (std::vector<bool>{true, false, false}));
}
