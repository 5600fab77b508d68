#include "core/Sleep.h"
#include "core/VirtualClock.h"

#include <QCoroTask>
#include <gtest/gtest.h>

using namespace fennimar;
using namespace std::chrono_literals;

// sleepFor is how the agent's loops wait and end; the virtual clock under it is tested by every test on it.
static QCoro::Task<void> sleeper(Clock &clock, Millis d, CancelToken token, std::vector<bool> &results)
{
    results.push_back(co_await sleepFor(clock, d, token));
}

TEST(Sleep, ReturnsTrueAfterTheDelayAndFalseOnTheNextTurnWhenCancelled)
{
    VirtualClock clock;
    std::vector<bool> results;
    CancelToken token;
    sleeper(clock, 10s, token, results);
    clock.advance(9999ms);
    EXPECT_TRUE(results.empty());
    clock.advance(1ms);
    sleeper(clock, 300s, token, results);
    token.cancel();
    EXPECT_EQ(results.size(), 1u) << "resumes on the next turn, not inside cancel()";
    clock.runDue();
    sleeper(clock, 5s, token, results);  // already cancelled: does not wait at all
    EXPECT_EQ(results, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(clock.pendingTimers(), 0u);
}
