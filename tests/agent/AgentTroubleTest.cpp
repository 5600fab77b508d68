// Faults that used to leave the agent looking healthy while it measured or reported nothing: a
// secret store that cannot be read at start, menu actions overlapping the store, a delete that
// fails, reports refused while the heartbeat succeeds, a desktop that cannot be watched.
#include "platform/Sleep.h"
#include "tests/agent/AgentTestSupport.h"

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

// The in-memory store, answering each call only after `delay` of virtual time, as a keyring that
// prompts or a slow bus would.
class SlowSecretStore final : public SecretStore {
public:
    SlowSecretStore(Clock &clock, std::unique_ptr<FakeSecretStore> inner) : m_clock(clock), m_inner(std::move(inner)) {}
    Millis delay{0};
    int writesStarted = 0;
    FakeSecretStore &inner() { return *m_inner; }

    QCoro::Task<ReadResult> read(QString service, QString account) override
    {
        co_await sleepFor(m_clock, delay, CancelToken());
        co_return co_await m_inner->read(service, account);
    }
    QCoro::Task<fennimar::Status> write(QString service, QString account, QByteArray secret) override
    {
        ++writesStarted;
        co_await sleepFor(m_clock, delay, CancelToken());
        co_return co_await m_inner->write(service, account, secret);
    }
    QCoro::Task<fennimar::Status> remove(QString service, QString account) override
    {
        co_await sleepFor(m_clock, delay, CancelToken());
        co_return co_await m_inner->remove(service, account);
    }

private:
    Clock &m_clock;
    std::unique_ptr<FakeSecretStore> m_inner;
};

class AgentTrouble : public AgentFixture {
protected:
    SlowSecretStore *store = nullptr;

    AgentTrouble()
    {
        auto inner = std::unique_ptr<FakeSecretStore>(static_cast<FakeSecretStore *>(platform.secrets.release()));
        auto slow = std::make_unique<SlowSecretStore>(clock, std::move(inner));
        store = slow.get();
        platform.secrets = std::move(slow);
        server.respond(QStringLiteral("/api/devices/setup-pending"),
                       Response::json(ticketJson("ABC234", "2026-03-14T10:00:00.000Z")));
        server.respond(QStringLiteral("/api/devices/setup-status/tok-1"),
                       Response::json(R"({"claimed":false,"expired":false})"));
    }

    void claim()
    {
        server.respond(
            QStringLiteral("/api/devices/setup-status/tok-1"),
            Response::json(
                R"({"claimed":true,"expired":false,"device_id":"dev-1","child_id":"c-9","child_session_token":"s3cret","child":{"name":"Ada"}})"));
    }

    bool measuring() const { return agent->sampler() && agent->sampler()->isRunning(); }

    QJsonObject lastBeatChecks() const
    {
        const auto beats = server.requestsTo(QStringLiteral("/api/devices/dev-1/heartbeat"));
        return beats.back().json()["health_snapshot"].toObject()["checks"].toObject();
    }
};

TEST_F(AgentTrouble, AStoreThatCannotBeReadAtStartIsWaitedForNeverTakenAsUnpaired)
{
    for (const bool locked : {true, false}) {
        SCOPED_TRACE(locked ? "locked" : "absent");
        agent.reset();
        server.clearRequests();
        storedIdentity();
        (locked ? store->inner().locked : store->inner().unavailable) = true;
        LogCapture log;
        makeAgent();
        agent->start();
        advance(10min);
        EXPECT_EQ(requestsTo("/api/devices/setup-pending"), 0u);
        EXPECT_NE(stateAs<AgentStates::Unpaired>(), nullptr);
        EXPECT_EQ(agent->waitingFor(), locked ? QStringLiteral("Waiting for the keyring to be unlocked")
                                              : QStringLiteral("Waiting for the keyring to start (no secret store "
                                                               "is running)"));
        agent->beginPairing();  // the menu offers no pairing meanwhile; a stray call is refused
        EXPECT_EQ(requestsTo("/api/devices/setup-pending"), 0u);

        store->inner().locked = store->inner().unavailable = false;
        ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 60s, 1s));
        EXPECT_EQ(agent->waitingFor(), std::nullopt);
        EXPECT_TRUE(measuring());
        ASSERT_TRUE(waitFor([&] { return requestsTo("/api/devices/dev-1/heartbeat") >= 1; }));
        const QStringList lines = log.lines();
        EXPECT_EQ(lines.filter(QStringLiteral("WARN ] cannot read the stored identity")).size(), 1);
        EXPECT_EQ(lines.filter(QStringLiteral("INFO ] secret store readable again · continuing")).size(), 1);
        EXPECT_EQ(requestsTo("/api/devices/setup-pending"), 0u);
    }
}

TEST_F(AgentTrouble, ActionsDuringTheStoreRoundTripsLeaveOneTruth)
{
    store->delay = 3s;
    // A pair click while the stored pairing is read at start is refused: no second device.
    storedIdentity();
    LogCapture log;
    makeAgent();
    agent->start();
    agent->beginPairing();
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 10s, 1s));
    EXPECT_EQ(requestsTo("/api/devices/setup-pending"), 0u);
    EXPECT_TRUE(
        log.lines().contains(QStringLiteral("INFO ] pair ignored · reading the stored pairing is in progress")));

    // Unpair, then pair again; a cancel while the claimed identity is being saved waits for the
    // save: the agent ends paired and measuring, never "paired" with nothing running.
    agent->unpair();
    ASSERT_TRUE(advanceUntil([&] { return store->inner().secrets.empty(); }, 10s, 1s));
    agent->beginPairing();
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Pairing>() != nullptr; }, 10s, 1s));
    claim();
    ASSERT_TRUE(advanceUntil([&] { return store->writesStarted == 1; }, 10s, 500ms));  // the save is under way
    ASSERT_EQ(store->inner().writes, 1);
    agent->cancelPairing();
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 20s, 1s));
    advance(10s);
    ASSERT_NE(stateAs<AgentStates::Paired>(), nullptr);
    EXPECT_EQ(stateAs<AgentStates::Paired>()->identity.childName, QStringLiteral("Ada"));
    EXPECT_TRUE(measuring());
    EXPECT_EQ(store->inner().secrets.size(), 1u);

    // A delete that fails is shown, never taken as unpaired.
    store->inner().locked = true;
    agent->unpair();
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Failed>() != nullptr; }, 10s, 1s));
    EXPECT_EQ(stateAs<AgentStates::Failed>()->message,
              QStringLiteral("Could not remove the stored pairing: the secret store is locked. It comes back at the "
                             "next start."));
    EXPECT_TRUE(log.lines().contains(QStringLiteral("ERROR] unpair failed · the secret store is locked")));
    EXPECT_FALSE(measuring());
}

TEST_F(AgentTrouble, RefusedReportsAndAnUnwatchableDesktopReachTheMenuAndTheBackend)
{
    storedIdentity();
    desktop->problem = QStringLiteral("no display connection");
    server.respond(QStringLiteral("/api/guard/heartbeat"), Response::text(401, "token revoked"));
    makeAgent();
    agent->start();
    ASSERT_TRUE(waitFor([&] { return agent->reporter() && agent->reporter()->lastError(); }));
    EXPECT_EQ(*agent->reporter()->lastError(), QStringLiteral("Server returned 401: token revoked"));
    EXPECT_EQ(agent->reporter()->failingSince(), clock.now());
    ASSERT_TRUE(waitFor([&] { return agent->lastBeat().has_value(); }));  // the heartbeat itself succeeds
    EXPECT_EQ(lastBeatChecks()["foreground_sampling"].toObject()["ok"], QJsonValue(false));
    EXPECT_EQ(lastBeatChecks()["foreground_sampling"].toObject()["actionable_intent"], QJsonValue(QJsonValue::Null));

    desktop->problem.clear();
    advance(15s);
    ASSERT_TRUE(waitFor([&] { return requestsTo("/api/devices/dev-1/heartbeat") >= 2; }));
    EXPECT_EQ(lastBeatChecks()["foreground_sampling"].toObject()["ok"], QJsonValue(true));
}

}  // namespace
