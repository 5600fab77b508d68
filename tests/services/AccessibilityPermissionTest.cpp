#include "platform/AccessibilityPermission.h"

#include "platform/VirtualClock.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace fennimar;
using namespace std::chrono_literals;

namespace {

struct ScriptedAccessibility final : Accessibility {
    bool trusted = false;
    bool grantOnRequest = false;
    int queries = 0, requests = 0;

    bool isTrusted() override
    {
        ++queries;
        return trusted;
    }
    void requestTrust() override
    {
        ++requests;
        trusted = trusted || grantOnRequest;
    }
    AddressOutcome readAddress(qint64) override { return {}; }
    bool openSettings() override { return false; }
};

TEST(AccessibilityWatcher, ChecksEveryFiveSecondsAndReportsOnlyChanges)
{
    VirtualClock clock;
    ScriptedAccessibility ax;
    AccessibilityPermission permission(ax, clock);
    std::vector<bool> changes;
    test::LogCapture log;

    TimerHandle watcher = permission.startWatching([&](bool now) { changes.push_back(now); });
    EXPECT_EQ(ax.queries, 1);  // the starting state
    clock.advance(4999ms);
    EXPECT_EQ(ax.queries, 1) << "the first check is 5 s after the start";
    clock.advance(1ms);
    EXPECT_EQ(ax.queries, 2);

    // Granted at 7 s: reported at the 10 s check, once.
    clock.advance(2s);
    ax.trusted = true;
    clock.advance(3s);
    EXPECT_EQ(changes, std::vector<bool>({true}));

    // Unchanged for three hours: checked every 5 s, nothing reported.
    const int before = ax.queries;
    clock.advance(3h);
    EXPECT_EQ(ax.queries - before, 3 * 3600 / 5);
    EXPECT_EQ(changes.size(), 1u);

    // Revoked and granted again between two checks: unseen.
    clock.advance(1s);
    ax.trusted = false;
    clock.advance(1s);
    ax.trusted = true;
    clock.advance(3s);
    EXPECT_EQ(changes.size(), 1u);

    ax.trusted = false;
    clock.advance(5s);
    EXPECT_EQ(changes, std::vector<bool>({true, false}));
    EXPECT_EQ(log.lines(), QStringList({QStringLiteral("INFO ] accessibility · GRANTED"),
                                        QStringLiteral("INFO ] accessibility · REVOKED")}));

    watcher.cancel();
    const int stopped = ax.queries;
    clock.advance(1min);
    EXPECT_EQ(ax.queries, stopped);
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

TEST(AccessibilityWatcher, AChangeBeforeWatchingStartsIsNotReportedAndOnChangeMayStopTheWatcher)
{
    VirtualClock clock;
    ScriptedAccessibility ax;
    ax.trusted = true;  // granted before the watcher started
    AccessibilityPermission permission(ax, clock);
    int calls = 0;
    TimerHandle watcher;
    watcher = permission.startWatching([&](bool) {
        ++calls;
        watcher.cancel();
    });
    clock.advance(10s);
    EXPECT_EQ(calls, 0);
    ax.trusted = false;
    clock.advance(1min);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(watcher.isActive());
}

TEST(AccessibilityRequest, PromptsOnlyWhenNotTrustedAndLogsTheStateAfterwards)
{
    const struct {
        bool trusted, grantOnRequest;
        int requests;
        const char *line;
    } cases[] = {
        {true, false, 0, "INFO ] accessibility · prompted (granted=true)"},
        {false, false, 1, "INFO ] accessibility · prompted (granted=false)"},
        {false, true, 1, "INFO ] accessibility · prompted (granted=true)"},
    };
    for (const auto &c : cases) {
        VirtualClock clock;
        ScriptedAccessibility ax;
        ax.trusted = c.trusted;
        ax.grantOnRequest = c.grantOnRequest;
        test::LogCapture log;
        AccessibilityPermission(ax, clock).request();
        EXPECT_EQ(ax.requests, c.requests);
        EXPECT_EQ(log.lines(), QStringList({QString::fromUtf8(c.line)}));
    }
}

}  // namespace
