// Faults that once looked healthy: a failing secret store, reports refused under good beats, a blind desktop.
#include "core/DurableFile.h"
#include "tests/agent/AgentTestSupport.h"

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

class AgentTrouble : public AgentFixture {
protected:
    AgentTrouble()
    {
        server.respond(QStringLiteral("/api/devices/setup-pending"),
                       Response::json(ticketJson("2026-03-14T10:00:00.000Z")));
        server.respond(QStringLiteral("/api/devices/setup-status/tok-1"),
                       Response::json(R"({"claimed":false,"expired":false})"));
    }
    bool measuring() const { return agent->sampler() && agent->sampler()->isRunning(); }
    QJsonValue checkOk(const char *name) const
    {
        const auto beats = server.requestsTo(QStringLiteral("/api/devices/dev-1/heartbeat"));
        const QJsonValue snapshot = beats.back().json()["health_snapshot"];
        return snapshot["checks"][QLatin1String(name)]["ok"];
    }
};

// A store unreadable, undeletable or unwritable is never taken as unpaired; a failed claim ends in Failed.
TEST_F(AgentTrouble, AFailingSecretStoreIsShownAndNothingRunsOnAGuess)
{
    for (const bool locked : {true, false}) {
        const QString cause =
            locked ? QStringLiteral("the secret store is locked") : QStringLiteral("no secret store is running");
        SCOPED_TRACE(cause.toStdString());
        agent.reset();
        server.clearRequests();
        secrets->secrets.clear();
        secrets->locked = secrets->unavailable = false;
        storedIdentity();
        const auto fail = [&](bool failing) { (locked ? secrets->locked : secrets->unavailable) = failing; };
        fail(true);
        LogCapture log;
        makeAgent();
        agent->start();
        advance(10min);
        EXPECT_NE(stateAs<AgentStates::Unpaired>(), nullptr);
        EXPECT_EQ(agent->waitingFor(), locked ? QStringLiteral("Waiting for the keyring to be unlocked")
                                              : QStringLiteral("Waiting for the keyring to start (no secret store "
                                                               "is running)"));
        agent->beginPairing();  // the menu offers no pairing meanwhile; a stray call is refused
        EXPECT_EQ(requestsTo("/api/devices/setup-pending"), 0u);
        // Unlocked, the store says so (else it is asked within 30 s); a first "nothing stored" is asked again 5 s on.
        secrets->falselyEmpty = 1;
        fail(false);
        if (locked)
            secrets->changed();
        ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, locked ? 6s : 35s, 1s));
        EXPECT_EQ(requestsTo("/api/devices/setup-pending"), 0u);
        EXPECT_EQ(agent->waitingFor(), std::nullopt);
        EXPECT_TRUE(measuring());
        EXPECT_EQ(log.lines().filter(QStringLiteral("WARN ] cannot read the stored identity")).size(), 1);
        EXPECT_EQ(log.lines().filter(QStringLiteral("INFO ] secret store readable again · continuing")).size(), 1);
        fail(true);
        agent->unpair();
        ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Failed>() != nullptr; }, 10s, 1s));
        EXPECT_EQ(
            stateAs<AgentStates::Failed>()->message,
            QStringLiteral("Could not remove the stored pairing: %1. It comes back at the next start.").arg(cause));
        EXPECT_TRUE(log.lines().contains(QStringLiteral("ERROR] unpair failed · ") + cause));
        EXPECT_TRUE(log.lines().contains(QStringLiteral("INFO ] ledger flushed · today=0s")));
        EXPECT_FALSE(measuring());
        // Still paired in the store: a new pairing would be a second device; unpairing again works.
        EXPECT_FALSE(agent->beginPairing());
        fail(false);
        EXPECT_TRUE(agent->unpair());
        ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Unpaired>() && secrets->secrets.empty(); }));
        agent->beginPairing();
        ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Pairing>() != nullptr; }, 10s, 1s));
        fail(true);
        server.respond(
            QStringLiteral("/api/devices/setup-status/tok-1"),
            Response::json(R"({"claimed":true,"expired":false,"child_id":"c-9","child_session_token":"s"})"));
        const std::size_t beats = requestsTo("/api/devices/dev-1/heartbeat");
        ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Failed>() != nullptr; }, 10s, 1s));
        EXPECT_EQ(stateAs<AgentStates::Failed>()->message,
                  QStringLiteral("Could not save the pairing: %1.").arg(cause));
        advance(30s);
        EXPECT_EQ(requestsTo("/api/devices/dev-1/heartbeat"), beats);
        server.respond(QStringLiteral("/api/devices/setup-status/tok-1"),
                       Response::json(R"({"claimed":false,"expired":false})"));
    }
    // A store that answers with another error is running: it is named as it is.
    agent.reset();
    secrets->locked = secrets->unavailable = false;
    storedIdentity();
    secrets->readFailure = QStringLiteral("the secret store failed (Timeout)");
    makeAgent();
    agent->start();
    advance(10s);
    EXPECT_EQ(agent->waitingFor(),
              QStringLiteral("Waiting for the keyring, which fails: the secret store failed (Timeout)"));
}

TEST_F(AgentTrouble, RefusedReportsAndAnUnwatchableDesktopReachTheMenuAndTheBackend)
{
    storedIdentity();
    desktop->problem = QStringLiteral("no display connection");
    server.respond(QStringLiteral("/api/guard/heartbeat"), Response::text(401, "token revoked"));
    server.respond(QStringLiteral("/api/guard/desktop-apps-seen"), Response::text(429, "slow down"));
    server.respond(QStringLiteral("/api/guard/my-installed-apps"),
                   Response::json(R"({"apps":[{"package_id":"web:a","is_blocked":true}]})"));
    static_cast<FakeAppCatalog &>(*platform.apps).installed = {{QStringLiteral("xterm"), QStringLiteral("XTerm"), {}}};
    makeAgent();
    agent->start();
    ASSERT_TRUE(waitFor([&] { return agent->seenApps() && agent->seenApps()->lastError(); }));
    EXPECT_EQ(*agent->seenApps()->lastError(), QStringLiteral("Server returned 429: slow down"));
    EXPECT_EQ(*agent->reporter()->lastError(), QStringLiteral("Server returned 401: token revoked"));
    EXPECT_EQ(agent->reporter()->failingSince(), clock.now());
    ASSERT_TRUE(waitFor([&] { return agent->lastBeat().has_value(); }));  // the heartbeat itself succeeds
    EXPECT_EQ(checkOk("foreground_sampling"), QJsonValue(false));
    EXPECT_EQ(checkOk("tamper_evidence"), QJsonValue(true));
    desktop->problem.clear();
    platform.tamper->note(QStringLiteral("a foreign program holds the agent's name"));
    ASSERT_TRUE(advanceUntil([&] { return requestsTo("/api/devices/dev-1/heartbeat") >= 2; }, 30s, 1s));
    EXPECT_EQ(checkOk("foreground_sampling"), QJsonValue(true));
    EXPECT_EQ(checkOk("tamper_evidence"), QJsonValue(false));
    // A browser in front whose page stays unreadable past 2 min, with a site on the list, fails a check of its own.
    desktop->front = RunningApp{*platform::browserIds().begin(), 77, {}, {}};
    advance(150s, 1s);
    EXPECT_EQ(checkOk("browser_pages"), QJsonValue(false));
}

// A restart before the next acknowledged heartbeat no longer wipes evidence, and a kill is evidence itself.
TEST_F(AgentTrouble, EvidenceLastsUntilABeatCarryingItIsAcknowledgedAndAKillIsEvidence)
{
    storedIdentity();
    QDir().mkpath(supportDir());
    const auto run = [&] {
        platform.tamper = std::make_shared<TamperEvidence>();  // a new process
        auto record = std::make_unique<RunMarker>(supportDir());
        record->begin(clock.now());
        server.clearRequests();
        makeAgent();
        agent->keepEvidenceIn(*record);
        agent->start();
        return record;
    };
    // Evidence raised, the backend unreachable, then a clean quit: the next run still tells it.
    server.respond(QStringLiteral("/api/devices/dev-1/heartbeat"), Response::text(503, "down"));
    auto record = run();
    platform.tamper->note(QStringLiteral("a foreign program holds the agent's name"));
    ASSERT_TRUE(waitFor([&] { return agent->lastBeatError().has_value(); }));
    agent.reset();
    record->end(clock.now());
    server.respond(QStringLiteral("/api/devices/dev-1/heartbeat"), Response::json("{}"));
    for (const char *how : {"after a clean quit", "after a kill"}) {
        SCOPED_TRACE(how);
        record = run();
        ASSERT_TRUE(waitFor([&] { return agent->lastBeat().has_value(); }));
        EXPECT_EQ(checkOk("tamper_evidence"), QJsonValue(false));
        EXPECT_FALSE(readSmallFile(supportDir() + QStringLiteral("/run-state"), 1 << 16).bytes.contains("evidence"));
        ASSERT_TRUE(advanceUntil([&] { return requestsTo("/api/devices/dev-1/heartbeat") >= 2; }, 30s, 1s));
        EXPECT_EQ(checkOk("tamper_evidence"), QJsonValue(true));
        agent.reset();  // no end(): killed
    }
}

// A start before the network counts by the last good list of its own pairing, kept beside the ledger.
TEST_F(AgentTrouble, AStartBeforeTheNetworkCountsByTheStoredListOfItsPairing)
{
    const QString listFile = supportDir() + QStringLiteral("/monitored-list.json");
    const auto stored = [](const char *device) {
        return R"({"deviceId":")" + QByteArray(device) + R"(","fetchedAt":"2026-03-13T20:00:00.000Z","packages":[")" +
               (platform::appPrefix() + QStringLiteral("xterm")).toUtf8() + R"("]})";
    };
    const struct {
        const char *name;
        QByteArray file;  // at start; empty: none
        int offline;      // seconds every request is refused; -1: only the list is refused (503), throughout
        qint64 counted;   // of the first 60 s in front of the monitored app; -1: every second after the list came
        const char *logged;
    } rows[] = {
        {"offline start", stored("dev-1"), 60, 60, "1 app(s), 0 site(s) · stored list fetched 2026-03-13T20:00:00Z"},
        {"network 12 s late: asked as a beat gets through", {}, 12, -1, "monitored · 1 app(s), 0 site(s)"},
        {"only the list refused, the heartbeat says so", stored("dev-1"), -1, 60, "failed · Server returned 503: down"},
        {"another pairing's list", stored("dev-2"), 60, 0, "list belongs to device dev-2 · not used"},
        {"a corrupt list", "{\"deviceId\":", 60, 0, "ERROR] stored monitored list unreadable · not JSON: "},
    };
    storedIdentity();
    desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        agent.reset();
        ASSERT_TRUE(QDir(supportDir()).removeRecursively() && QDir().mkpath(supportDir()));
        ASSERT_TRUE(row.file.isEmpty() || writeFileAtomically(listFile, row.file));
        server.respond(QStringLiteral("/api/guard/my-installed-apps"),
                       row.offline < 0 ? Response::text(503, "down") : Response::json(xtermMonitored()));
        ASSERT_TRUE(server.setRefusing(row.offline > 0));
        LogCapture log;
        makeAgent();
        agent->start();
        const QDateTime begun = clock.now();
        advance(std::chrono::seconds(std::max(row.offline - 1, 0)), 1s);
        ASSERT_TRUE(server.setRefusing(row.offline >= 60));
        EXPECT_TRUE(row.counted >= 0 || advanceUntil([&] { return agent->monitored()->fetchedThisRun(); }, 8s, 1s));
        const qint64 counted = row.counted >= 0 ? row.counted : clock.now().secsTo(begun.addSecs(60));
        advance(std::chrono::milliseconds(clock.now().msecsTo(begun.addSecs(60))), 1s);
        EXPECT_EQ(agent->ledger().today(clock.now()).total(), counted);
        // A refused list is asked at 0, 10 and 30 s: the wait doubles.
        EXPECT_EQ(log.lines().filter(QString::fromUtf8(row.logged)).size(), row.offline < 0 ? 3 : 1);
        EXPECT_TRUE(row.offline >= 60 || checkOk("monitored_list") == QJsonValue(row.offline > 0));
    }
    // A good fetch is stored for the next start (the corrupt file lies aside); unpairing forgets it.
    ASSERT_TRUE(server.setRefusing(false));
    ASSERT_TRUE(advanceUntil([&] { return agent->monitored()->fetchedThisRun(); }, 30s, 1s));
    EXPECT_TRUE(readSmallFile(listFile, 4096).bytes.startsWith(R"({"deviceId":"dev-1","fetchedAt":)"));
    agent->unpair();
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Unpaired>() && !agent->storeBusy(); }));
    EXPECT_TRUE(readSmallFile(listFile, 4096).notFound);
}

}  // namespace
