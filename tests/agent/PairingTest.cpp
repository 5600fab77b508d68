#include "tests/agent/AgentTestSupport.h"

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

const QString ticketPath = QStringLiteral("/api/devices/setup-pending");
const QString statusPath = QStringLiteral("/api/devices/setup-status/tok-1");
const Response waiting = Response::json(R"({"claimed":false,"expired":false})");
const QByteArray goodTicket = ticketJson("2026-03-14T09:10:00.000Z");

class Pairing : public AgentFixture {};

// A failure ends in Failed with the client's sentence, one ERROR line, nothing stored, nothing asked again.
TEST_F(Pairing, TheAnswersDecideTheOutcome)
{
    struct Row {
        std::string name;
        Response ticket, status;
        QString outcome;  // the failure's start, or "<child name> on <device id>"
    };
    // A claim with a child and its session, and `more` members.
    const auto claimed = [](const char *more) {
        return Response::json(
            QByteArray(R"({"claimed":true,"expired":false,"child_id":"c","child_session_token":"t")") + more + "}");
    };
    const Response good = Response::json(goodTicket);
    const QString expired = QStringLiteral("That code expired. Ask for a new one.");
    const QString noSession = QStringLiteral("Paired, but no child session was issued. Tell the developer.");
    std::vector<Row> rows = {
        {"code already expired", Response::json(ticketJson("2026-03-14T08:59:59.000Z")), waiting, expired},
        {"expired before claimed", good,
         Response::json(R"({"claimed":true,"expired":true,"child_id":"c","child_session_token":"t"})"), expired},
        {"no session token", good, Response::json(R"({"claimed":true,"expired":false,"child_id":"c"})"), noSession},
        {"no child id", good, Response::json(R"({"claimed":true,"expired":false,"child_session_token":"t"})"),
         noSession},
        {"child name wins", good, claimed(R"(,"child":{"name":"Ada"},"device_name":"PC")"), "Ada on dev-1"},
        {"device name when the child has none", good, claimed(R"(,"child":{"name":null},"device_name":"Robin's PC")"),
         "Robin's PC on dev-1"},
        {"no names", good, claimed(R"(,"device_id":"dev-2")"), "this child on dev-2"},
    };
    const std::pair<const char *, Response> faults[] = {
        {"Server returned 401: no", Response::text(401, "no")},
        {"Redirect to another origin refused: http://127.0.0.2:9",
         Response::redirect(302, QUrl(QStringLiteral("http://127.0.0.2:9/x")))},
    };
    for (const auto &[failure, response] : faults) {
        rows.push_back({std::string(failure) + " in the code request", response, response, QString::fromUtf8(failure)});
        rows.push_back({std::string(failure) + " in the status poll", good, response, QString::fromUtf8(failure)});
    }
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        agent.reset();
        server.clearRequests();
        secrets->secrets.clear();
        server.respond(ticketPath, row.ticket);
        server.respond(statusPath, row.status);
        LogCapture log;
        makeAgent();
        agent->start();
        ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Failed>() || stateAs<AgentStates::Paired>(); }));
        if (const auto *paired = stateAs<AgentStates::Paired>()) {
            EXPECT_EQ(paired->identity.childName + " on " + paired->identity.deviceId, row.outcome);
        } else {
            EXPECT_TRUE(stateAs<AgentStates::Failed>()->message.startsWith(row.outcome))
                << stateAs<AgentStates::Failed>()->message.toStdString();
            if (row.name.find(" in the ") != std::string::npos) {  // a fault of the backend, not an answer
                EXPECT_EQ(log.lines().filter(QStringLiteral("ERROR] pairing failed · ") + row.outcome).size(), 1);
            }
            const std::size_t polls = row.name == "code already expired" || row.name.ends_with("request") ? 0u : 1u;
            EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), polls);
            advance(30s);
            EXPECT_EQ(requestsTo("/api/devices/setup-pending"), 1u);
            EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), polls);
            EXPECT_TRUE(secrets->secrets.empty());
        }
    }
}

// An expiry the agent cannot read counts as five minutes; polls go every 2 s and never past it.
TEST_F(Pairing, AnUnreadableExpiryIsFiveMinutesAndIsNeverPolledPastIt)
{
    server.respond(statusPath, waiting);
    server.respond(ticketPath, Response::json(ticketJson("2026-03-14T09:10:00Z")));
    makeAgent();
    agent->start();
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
    EXPECT_EQ(stateAs<AgentStates::Pairing>()->code, QStringLiteral("ABC234"));
    EXPECT_EQ(stateAs<AgentStates::Pairing>()->expiresAt, QDateTime(QDate(2026, 3, 14), QTime(9, 5), QTimeZone::utc()));
    ASSERT_TRUE(waitFor([&] { return requestsTo("/api/devices/setup-status/tok-1") == 1; }));
    pump(100ms);  // the answer is read: the 2 s pause starts now
    const std::size_t pausing = clock.pendingTimers();
    advance(1900ms, 100ms);
    EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), 1u);
    // Time moves once the last answer is read (its pause scheduled): each poll 2 s after the last.
    for (std::size_t n = 2; !stateAs<AgentStates::Failed>(); ++n) {
        clock.advance(n == 2 ? 100ms : 2s);
        ASSERT_TRUE(waitFor([&] {
            return stateAs<AgentStates::Failed>() ||
                   (requestsTo("/api/devices/setup-status/tok-1") == n && clock.pendingTimers() == pausing);
        })) << "poll "
            << n;
    }
    EXPECT_EQ(clock.now(), QDateTime(QDate(2026, 3, 14), QTime(9, 5), QTimeZone::utc()));
    EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), 150u);  // 09:00:00 to 09:04:58
    advance(10s);
    EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), 150u);
}

// Pairing only when unpaired; cancel stops pairing alone, waits for a locked store, and leaves a paired agent counting.
TEST_F(Pairing, EachActionDoesOnlyWhatItsStateAllows)
{
    server.respond(ticketPath, Response::json(goodTicket));
    server.respond(statusPath, waiting);
    LogCapture log;
    makeAgent();
    agent->start();
    ASSERT_TRUE(waitFor([&] { return requestsTo("/api/devices/setup-status/tok-1") == 1; }));
    EXPECT_EQ(agent->beginPairing().error(), QStringLiteral("A pair code is already being shown. Cancel it first."));
    secrets->locked = true;
    EXPECT_TRUE(agent->cancelPairing());
    EXPECT_NE(stateAs<AgentStates::Unpaired>(), nullptr);
    EXPECT_EQ(agent->waitingFor(), QStringLiteral("Waiting for the keyring to be unlocked"));
    advance(10s);
    EXPECT_EQ(requestsTo("/api/devices/setup-status/tok-1"), 1u);
    secrets->locked = false;
    secrets->changed();
    ASSERT_TRUE(advanceUntil([&] { return !agent->waitingFor(); }, 6s, 1s));
    server.respond(statusPath, Response::json(R"({"claimed":true,"expired":false,"child_id":"c",)"
                                              R"("child_session_token":"t","child":{"name":"Ada"}})"));
    EXPECT_TRUE(agent->beginPairing());
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 10s, 1s));
    ASSERT_TRUE(waitFor([&] { return agent->monitored()->lastFetch().has_value(); }));
    const MonitoredApps *monitored = agent->monitored();
    EXPECT_EQ(agent->beginPairing().error(),
              QStringLiteral("This computer is already paired with Ada. Unpair it first."));
    EXPECT_TRUE(agent->cancelPairing());
    advance(30s);
    EXPECT_NE(stateAs<AgentStates::Paired>(), nullptr);
    EXPECT_EQ(agent->monitored(), monitored);
    EXPECT_EQ(requestsTo("/api/devices/setup-pending"), 2u);
    EXPECT_EQ(requestsTo("/api/guard/my-installed-apps"), 1u);
    // The heartbeat goes on; a loaded machine may still owe the last reply when virtual time stops.
    EXPECT_TRUE(advanceUntil([&] { return requestsTo("/api/devices/dev-1/heartbeat") >= 3u; }, 30s, 1s));
    EXPECT_EQ(log.lines().filter(QStringLiteral("restored pairing")).size(), 0);
    EXPECT_EQ(log.lines().filter(QStringLiteral("INFO ] pairing cancelled")).size(), 1);
}

}  // namespace
