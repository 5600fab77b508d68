#include "tests/agent/AgentTestSupport.h"

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

class Pairing : public AgentFixture {
protected:
    void startUnpaired(const QByteArray &ticket)
    {
        server.respond(QStringLiteral("/api/devices/setup-pending"), Response::json(ticket));
        makeAgent();
        agent->start();
    }
    void status(const QByteArray &json)
    {
        server.respond(QStringLiteral("/api/devices/setup-status/tok-1"), Response::json(json));
    }
    const AgentStates::Failed *waitForFailure()
    {
        waitFor([&] { return stateAs<AgentStates::Failed>() != nullptr; });
        return stateAs<AgentStates::Failed>();
    }
};

TEST_F(Pairing, ClaimStoresTheIdentityAndStartsHeartbeatAndMeasuring)
{
    status(R"({"claimed":false,"expired":false})");
    LogCapture log;
    startUnpaired(ticketJson("ABC234", "2026-03-14T09:10:00.000Z"));
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
    EXPECT_EQ(stateAs<AgentStates::Pairing>()->code, QStringLiteral("ABC234"));
    EXPECT_EQ(stateAs<AgentStates::Pairing>()->expiresAt,
              QDateTime(QDate(2026, 3, 14), QTime(9, 10), QTimeZone::utc()));
    ASSERT_TRUE(waitFor([&] { return requestsTo("/api/devices/setup-status/tok-1") == 1; }));
    ASSERT_TRUE(advanceUntil([&] { return requestsTo("/api/devices/setup-status/tok-1") == 2; }, 4s, 500ms));
    status(
        R"({"claimed":true,"expired":false,"device_id":"dev-1","child_id":"c-9","child_session_token":"s3cret","child":{"name":null},"device_name":"Robin's PC"})");
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 4s, 500ms));
    const PairedIdentity id = stateAs<AgentStates::Paired>()->identity;
    EXPECT_EQ(id.childName, QStringLiteral("Robin's PC"));
    EXPECT_EQ(id.sessionToken, QStringLiteral("s3cret"));
    EXPECT_EQ(secrets->secrets.size(), 1u);
    ASSERT_TRUE(waitFor([&] {
        return requestsTo("/api/devices/dev-1/heartbeat") >= 1 && requestsTo("/api/guard/my-installed-apps") >= 1;
    }));
    const QStringList lines = log.lines();
    EXPECT_TRUE(lines.contains(QStringLiteral("INFO ] no stored pairing · requesting a pair code")));
    EXPECT_TRUE(
        lines.contains(QStringLiteral("INFO ] pair code ABC234 · device=dev-1 · expires 2026-03-14T09:10:00.000Z")));
    EXPECT_TRUE(lines.contains(QStringLiteral("INFO ] PAIRED · device=dev-1 child=c-9 (Robin's PC)")));
}

struct ClaimCase {
    const char *name;
    QByteArray status;
    const char *failure;  // nullptr: paired
    const char *childName;
    const char *deviceId;
};

class PairingClaims : public Pairing, public ::testing::WithParamInterface<ClaimCase> {};

TEST_P(PairingClaims, TheStatusDecidesTheOutcome)
{
    const ClaimCase c = GetParam();
    status(c.status);
    startUnpaired(ticketJson("ABC234", "2026-03-14T09:10:00.000Z"));
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Failed>() || stateAs<AgentStates::Paired>(); }));
    if (c.failure) {
        ASSERT_NE(stateAs<AgentStates::Failed>(), nullptr);
        EXPECT_TRUE(stateAs<AgentStates::Failed>()->message.startsWith(QString::fromUtf8(c.failure)))
            << stateAs<AgentStates::Failed>()->message.toStdString();
        EXPECT_TRUE(secrets->secrets.empty());
    } else {
        ASSERT_NE(stateAs<AgentStates::Paired>(), nullptr);
        EXPECT_EQ(stateAs<AgentStates::Paired>()->identity.childName, QString::fromUtf8(c.childName));
        EXPECT_EQ(stateAs<AgentStates::Paired>()->identity.deviceId, QString::fromUtf8(c.deviceId));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Claims, PairingClaims,
    ::testing::Values(
        ClaimCase{"expiredBeforeClaimed", R"({"claimed":true,"expired":true,"child_id":"c","child_session_token":"t"})",
                  "That code expired. Ask for a new one.", nullptr, nullptr},
        ClaimCase{"noSessionToken", R"({"claimed":true,"expired":false,"child_id":"c"})",
                  "Paired, but no child session was issued. Tell the developer.", nullptr, nullptr},
        ClaimCase{"noChildId", R"({"claimed":true,"expired":false,"child_session_token":"t"})",
                  "Paired, but no child session was issued. Tell the developer.", nullptr, nullptr},
        ClaimCase{
            "childNameWins",
            R"({"claimed":true,"expired":false,"child_id":"c","child_session_token":"t","child":{"name":"Ada"},"device_name":"PC"})",
            nullptr, "Ada", "dev-1"},
        ClaimCase{"noNames",
                  R"({"claimed":true,"expired":false,"device_id":"dev-2","child_id":"c","child_session_token":"t"})",
                  nullptr, "this child", "dev-2"},
        ClaimCase{"statusNotDecodable", R"({"claimed":"yes","expired":false})", "Could not read SetupStatus", nullptr,
                  nullptr}),
    [](const auto &p) { return std::string(p.param.name); });

TEST_F(Pairing, AnAlreadyExpiredCodeFailsWithoutAnyStatusRequest)
{
    startUnpaired(ticketJson("ABC234", "2026-03-14T08:59:59.000Z"));
    const auto *failed = waitForFailure();
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->message, QStringLiteral("That code expired. Ask for a new one."));
    EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), 0u);
}

TEST_F(Pairing, AnExpiryWithoutFractionalSecondsFallsBackToFiveMinutesAndIsNeverPolledPastIt)
{
    status(R"({"claimed":false,"expired":false})");
    startUnpaired(ticketJson("ABC234", "2026-03-14T09:10:00Z"));
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
    EXPECT_EQ(stateAs<AgentStates::Pairing>()->expiresAt, clock.now().addSecs(300));
    const QDateTime expiry = stateAs<AgentStates::Pairing>()->expiresAt;
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Failed>() != nullptr; }, 400s, 500ms));
    EXPECT_GE(clock.now(), expiry);
    const std::size_t sent = requestsTo("/api/devices/setup-status/tok-1");
    advance(10s);
    EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), sent);
    ASSERT_NE(stateAs<AgentStates::Failed>(), nullptr);
    EXPECT_LE(requestsTo("/api/devices/setup-status/tok-1"), 151u);
}

TEST_F(Pairing, CancelReturnsToThePairingStoredBeforeOrToUnpaired)
{
    status(R"({"claimed":false,"expired":false})");
    startUnpaired(ticketJson("ABC234", "2026-03-14T09:10:00.000Z"));
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
    agent->cancelPairing();
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Unpaired>() != nullptr; }));

    const PairedIdentity id = storedIdentity();
    agent->beginPairing();
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
    agent->cancelPairing();
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Paired>() != nullptr; }));
    EXPECT_EQ(stateAs<AgentStates::Paired>()->identity, id);
    pump(200ms);  // a poll sent just before the cancel may still arrive
    const std::size_t polls = requestsTo("/api/devices/setup-status/tok-1");
    clock.advance(10s);
    pump(20ms);
    EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), polls) << "the cancelled task polls no more";
}

TEST_F(Pairing, BeginningTwiceKeepsOnlyTheSecondTicketEvenIfTheFirstAnswersLate)
{
    Response slow = Response::json(ticketJson("FIRST1", "2026-03-14T09:10:00.000Z", "tok-a"));
    slow.delay = 300ms;
    server.respondOnce(QStringLiteral("/api/devices/setup-pending"), slow);
    server.respond(QStringLiteral("/api/devices/setup-status/tok-a"),
                   Response::json(R"({"claimed":false,"expired":false})"));
    server.respond(QStringLiteral("/api/devices/setup-status/tok-b"),
                   Response::json(R"({"claimed":false,"expired":false})"));
    startUnpaired(ticketJson("SECND2", "2026-03-14T09:10:00.000Z", "tok-b"));
    ASSERT_TRUE(waitFor([&] { return requestsTo("/api/devices/setup-pending") == 1; }));
    agent->beginPairing();
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
    pump(400ms);
    clock.advance(2s);
    pump(50ms);
    ASSERT_NE(stateAs<AgentStates::Pairing>(), nullptr);
    EXPECT_EQ(stateAs<AgentStates::Pairing>()->code, QStringLiteral("SECND2"));
    EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-a"), 0u);
}

// A keyring locked, or a Secret Service gone, after start-up found no pairing: a claimed code that
// cannot be stored ends in Failed with a sentence a parent can read, and nothing runs as if paired.
TEST_F(Pairing, WithoutAUsableSecretStoreTheClaimEndsInFailedWithAReadableSentence)
{
    const struct {
        const char *name;
        bool locked, unavailable;
        const char *cause;
    } cases[] = {{"locked", true, false, "the secret store is locked"},
                 {"absent", false, true, "no secret store is running"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        agent.reset();
        secrets->locked = secrets->unavailable = false;
        status(R"({"claimed":false,"expired":false})");
        LogCapture log;
        startUnpaired(ticketJson("ABC234", "2026-03-14T09:10:00.000Z"));
        ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
        secrets->locked = c.locked;
        secrets->unavailable = c.unavailable;
        status(R"({"claimed":true,"expired":false,"child_id":"c-9","child_session_token":"s3cret"})");
        // The next poll is due 2 s after the previous one answered, which on a slow machine may be
        // after the first advance.
        decltype(waitForFailure()) failed = nullptr;
        for (int poll = 0; poll < 3 && !failed; ++poll) {
            advance(2s);
            failed = waitForFailure();
        }
        ASSERT_NE(failed, nullptr);
        const QString sentence = QStringLiteral("Could not save the pairing: %1.").arg(QLatin1String(c.cause));
        EXPECT_EQ(failed->message, sentence);
        const QStringList lines = log.lines();
        EXPECT_TRUE(lines.contains(QStringLiteral("ERROR] pairing failed · ") + sentence));
        advance(30s);
        EXPECT_EQ(requestsTo("/api/devices/dev-1/heartbeat"), 0u);
        EXPECT_TRUE(secrets->secrets.empty());
    }
}

// The backend failing either pairing request in one way at a time: pairing ends in Failed with the
// client's sentence and one ERROR line, nothing is stored, and nothing is asked again until the
// user asks for a new code.
TEST_F(Pairing, AFaultInEitherRequestEndsInFailedWithItsSentenceAndNothingStored)
{
    const struct {
        const char *name;
        Response response;
        const char *ticketFailure;  // when the code request fails
        const char *statusFailure;  // when the status poll fails
    } faults[] = {
        {"401", Response::text(401, "no"), "Server returned 401: no", "Server returned 401: no"},
        {"404", Response::text(404, "gone"), "Not found (404) — the device may have been removed",
         "Not found (404) — the device may have been removed"},
        {"503", Response::text(503, "maintenance"), "Server returned 503: maintenance",
         "Server returned 503: maintenance"},
        {"malformed", Response::json(R"({"token":"t",)"), "Could not read PairingTicket", "Could not read SetupStatus"},
        {"wrong type", Response::json(R"({"token":7,"claimed":"no"})"), "Could not read PairingTicket",
         "Could not read SetupStatus"},
        {"oversized", Response::json(QByteArray(9 * 1024 * 1024, ' ') + "{}"), "Response refused: larger than 8 MiB",
         "Response refused: larger than 8 MiB"},
        {"other origin", Response::redirect(302, QUrl(QStringLiteral("http://127.0.0.2:9/x"))),
         "Redirect to another origin refused: http://127.0.0.2:9",
         "Redirect to another origin refused: http://127.0.0.2:9"},
    };
    const QString ticketPath = QStringLiteral("/api/devices/setup-pending");
    const QString statusPath = QStringLiteral("/api/devices/setup-status/tok-1");
    for (const auto &fault : faults) {
        for (const bool inStatus : {false, true}) {
            SCOPED_TRACE(std::string(fault.name) + (inStatus ? " in the status poll" : " in the code request"));
            agent.reset();
            server.clearRequests();
            server.respond(ticketPath, inStatus ? Response::json(ticketJson("ABC234", "2026-03-14T09:10:00.000Z"))
                                                : fault.response);
            server.respond(statusPath, fault.response);
            LogCapture log;
            makeAgent();
            agent->start();
            const auto *failed = waitForFailure();
            ASSERT_NE(failed, nullptr);
            const QString expected = QString::fromUtf8(inStatus ? fault.statusFailure : fault.ticketFailure);
            EXPECT_TRUE(failed->message.startsWith(expected)) << failed->message.toStdString();
            EXPECT_EQ(log.lines().filter(QStringLiteral("ERROR] pairing failed · ") + expected).size(), 1)
                << log.lines().join(QLatin1Char('\n')).toStdString();
            advance(30s);
            EXPECT_EQ(requestsTo("/api/devices/setup-pending"), 1u);
            EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), inStatus ? 1u : 0u);
            EXPECT_TRUE(secrets->secrets.empty());
            EXPECT_NE(stateAs<AgentStates::Failed>(), nullptr);
        }
    }
}

}  // namespace
