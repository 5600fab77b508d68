#include "tests/agent/AgentTestSupport.h"

#include <QFile>

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

class AgentLifecycle : public AgentFixture {};

TEST_F(AgentLifecycle, AStoredIdentityIsPairedAtOnceAndHeartbeatAndRefreshStartWithoutDelay)
{
    const PairedIdentity id = storedIdentity();
    LogCapture log;
    makeAgent();
    agent->start();
    ASSERT_NE(stateAs<AgentStates::Paired>(), nullptr);
    EXPECT_EQ(stateAs<AgentStates::Paired>()->identity, id);
    ASSERT_TRUE(waitFor([&] {
        return requestsTo("/api/devices/dev-1/heartbeat") == 1 && requestsTo("/api/guard/my-installed-apps") == 1;
    }));
    ASSERT_TRUE(waitFor([&] { return agent->lastBeat().has_value(); }));
    const QStringList lines = log.lines();
    EXPECT_TRUE(
        lines.contains(QStringLiteral("INFO ] agent starting · backend=%1 · device_type=linux_laptop · user=robin")
                           .arg(server.baseUrl().toString())))
        << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("INFO ] restored pairing · device=dev-1 child=child-7")));
    EXPECT_TRUE(lines.contains(QStringLiteral("INFO ] heartbeat ok · device=dev-1")));
    for (const QString &line : lines)
        EXPECT_FALSE(line.contains(QStringLiteral("secret-session"))) << line.toStdString();
}

TEST_F(AgentLifecycle, ThreeFailedHeartbeatsThenASuccessGiveTheExactLines)
{
    storedIdentity();
    for (int i = 0; i < 3; ++i)
        server.respondOnce(QStringLiteral("/api/devices/dev-1/heartbeat"), Response::text(500, "oops"));
    LogCapture log;
    makeAgent();
    agent->start();
    auto failures = [&] { return log.lines().filter(QStringLiteral("heartbeat failed")).size(); };
    for (qsizetype beat = 1; beat <= 3; ++beat) {
        ASSERT_TRUE(waitFor([&] { return failures() == beat; })) << beat;
        EXPECT_EQ(*agent->lastBeatError(), QStringLiteral("Server returned 500: oops"));
        EXPECT_FALSE(agent->lastBeat());
        ASSERT_TRUE(advanceUntil([&] { return requestsTo("/api/devices/dev-1/heartbeat") == std::size_t(beat) + 1; },
                                 Agent::heartbeatInterval, 1s));
    }
    ASSERT_TRUE(waitFor([&] { return agent->lastBeat().has_value(); }));
    EXPECT_FALSE(agent->lastBeatError());
    QStringList beats;
    for (const QString &line : log.lines())
        if (line.contains(QStringLiteral("heartbeat")))
            beats << line;
    EXPECT_EQ(beats, (QStringList{QStringLiteral("WARN ] heartbeat failed · Server returned 500: oops"),
                                  QStringLiteral("WARN ] heartbeat failed · Server returned 500: oops"),
                                  QStringLiteral("WARN ] heartbeat failed · Server returned 500: oops"),
                                  QStringLiteral("INFO ] heartbeat recovered"),
                                  QStringLiteral("INFO ] heartbeat ok · device=dev-1")}));
}

TEST_F(AgentLifecycle, TheMonitoredListIsRefreshedAtStartAndAfterCyclesThreeAndSix)
{
    storedIdentity();
    makeAgent();
    agent->start();
    // Generous: on a loaded machine a cycle may take a few extra virtual steps for its requests.
    ASSERT_TRUE(advanceUntil([&] { return requestsTo("/api/guard/heartbeat") >= 8; }, 40 * Agent::reportInterval));
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

TEST_F(AgentLifecycle, UnpairStopsEverythingFlushesBeforeDeletingTheIdentityAndStartsNoPairing)
{
    storedIdentity();
    makeAgent();
    agent->start();
    // The first cycle's requests are answered before the unpair.
    ASSERT_TRUE(
        waitFor([&] { return agent->lastBeat().has_value() && agent->monitored()->lastFetch() && changes >= 3; }));
    pump(20ms);
    LogCapture log;
    agent->unpair();
    clock.runDue();
    EXPECT_NE(stateAs<AgentStates::Unpaired>(), nullptr);
    EXPECT_FALSE(agent->lastBeat());
    EXPECT_FALSE(agent->lastBeatError());
    EXPECT_FALSE(agent->sampler()->isRunning());
    EXPECT_TRUE(secrets->secrets.empty());
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("INFO ] unpairing · clearing stored identity"),
                                        QStringLiteral("INFO ] ledger flushed · today=0s")}));
    server.clearRequests();
    advance(600s);
    EXPECT_EQ(server.requests().size(), 0u) << "no heartbeat, report or pairing after unpair";
}

TEST_F(AgentLifecycle, CountedSecondsReachTheDiskWithinAMinuteWithoutAReport)
{
    storedIdentity();
    server.respond(QStringLiteral("/api/guard/heartbeat"), Response::text(503, "down"));
    desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}};
    makeAgent();
    agent->start();
    ASSERT_TRUE(waitFor([&] { return agent->monitored()->lastFetch().has_value(); }));
    advance(61s, 1s);
    QFile file(supportDir() + QStringLiteral("/ledger.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto days = DayLedger::decode(file.readAll());
    ASSERT_TRUE(days);
    ASSERT_EQ(days.value().size(), 1u);
    EXPECT_GE(days.value().begin()->second.total(), 59);
}

}  // namespace
