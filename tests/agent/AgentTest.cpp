#include "tests/agent/AgentTestSupport.h"

#include <QFile>

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

class AgentLifecycle : public AgentFixture {};

// Stored identity: beat and refresh at once, a failed beat retried every 15 s; the log tells changes and an
// hourly line, never the device id (all a forged heartbeat needs) nor the token.
TEST_F(AgentLifecycle, AStoredIdentityBeatsAtOnceAndEvery15sAndLogsTheExactLines)
{
    const PairedIdentity id = storedIdentity();
    for (const char *why : {"oops", "still down"})
        server.respondOnce(QStringLiteral("/api/devices/dev-1/heartbeat"), Response::text(500, why));
    LogCapture log;
    makeAgent();
    agent->start();
    ASSERT_NE(stateAs<AgentStates::Paired>(), nullptr);
    EXPECT_EQ(stateAs<AgentStates::Paired>()->identity, id);
    ASSERT_TRUE(waitFor([&] { return agent->lastBeatError() && requestsTo("/api/guard/my-installed-apps") == 1; }));
    EXPECT_EQ(*agent->lastBeatError(), QStringLiteral("Server returned 500: oops"));
    for (std::size_t beat = 2; beat <= 3; ++beat) {
        // The next beat is due 15 s after the failed one was answered.
        ASSERT_TRUE(waitFor(
            [&] { return log.lines().filter(QStringLiteral("heartbeat failed")).size() == qsizetype(beat) - 1; }));
        advance(14s, 1s);
        EXPECT_EQ(requestsTo("/api/devices/dev-1/heartbeat"), beat - 1);
        advance(1s);
        ASSERT_TRUE(waitFor([&] { return requestsTo("/api/devices/dev-1/heartbeat") == beat; }));
    }
    ASSERT_TRUE(waitFor([&] { return agent->lastBeat().has_value(); }));
    EXPECT_FALSE(agent->lastBeatError());
    ASSERT_TRUE(advanceUntil([&] { return !log.lines().filter(QStringLiteral("heartbeats going")).isEmpty(); }, 2h));
    const QStringList lines = log.lines();
    for (const QString &line :
         {QStringLiteral("INFO ] agent starting · backend=%1 · device_type=%2_laptop · user=robin")
              .arg(server.baseUrl().toString(), platform::osName()),
          QStringLiteral("INFO ] restored pairing · child=child-7")})
        EXPECT_TRUE(lines.contains(line)) << line.toStdString();
    const QStringList beats = lines.filter(QStringLiteral("heartbeat"));
    EXPECT_EQ(beats.mid(0, 3), (QStringList{QStringLiteral("WARN ] heartbeat failed · Server returned 500: oops"),
                                            QStringLiteral("WARN ] heartbeat failed · Server returned 500: still down"),
                                            QStringLiteral("INFO ] heartbeat recovered")}));
    EXPECT_EQ(beats.size(), 4);
    EXPECT_TRUE(beats.back().startsWith(QStringLiteral("INFO ] heartbeats going through · ")));
    EXPECT_TRUE(lines.filter(QStringLiteral("secret-session")).isEmpty());
    EXPECT_TRUE(lines.filter(QStringLiteral("dev-1")).isEmpty());
}

// Reports every 300 s, list refreshed every third; counted seconds reach the disk within a minute regardless.
TEST_F(AgentLifecycle, TheListIsRefreshedEveryThirdCycleAndCountingIsSavedEveryMinute)
{
    storedIdentity();
    server.respond(QStringLiteral("/api/guard/heartbeat"), Response::text(503, "down"));
    desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}};
    makeAgent();
    agent->start();
    ASSERT_TRUE(waitFor([&] { return requestsTo("/api/guard/heartbeat") == 1; }));
    pump(100ms);  // the refusal is read: the 300 s pause starts now
    ASSERT_TRUE(waitFor([&] { return agent->monitored() && agent->monitored()->lastFetch().has_value(); }));
    advance(61s, 1s);
    QFile file(supportDir() + QStringLiteral("/ledger.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto days = DayLedger::decode(file.readAll());
    ASSERT_TRUE(days && days.value().size() == 1u);
    EXPECT_EQ(days.value().begin()->second.total(), 59);  // the save at 60 s comes before that second's tick
    advance(238s, 1s);
    EXPECT_EQ(requestsTo("/api/guard/heartbeat"), 1u);
    advance(1s);
    EXPECT_TRUE(waitFor([&] { return requestsTo("/api/guard/heartbeat") == 2; }));
    // Generous: on a loaded machine a cycle may take a few extra virtual steps for its requests.
    ASSERT_TRUE(advanceUntil([&] { return requestsTo("/api/guard/heartbeat") >= 8; }, 40 * 300s));
    // Requests of one task go out one after another, so the server's arrival order is the task's.
    std::vector<int> reportsBeforeEachRefresh;
    int reports = 0;
    for (const auto &request : server.requests()) {
        if (request.path == QStringLiteral("/api/guard/heartbeat"))
            ++reports;
        else if (request.path == QStringLiteral("/api/guard/my-installed-apps"))
            reportsBeforeEachRefresh.push_back(reports);
    }
    EXPECT_EQ(reportsBeforeEachRefresh, (std::vector<int>{0, 3, 6}));
}

}  // namespace
