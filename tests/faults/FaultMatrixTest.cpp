// The whole agent on virtual time against a backend that misbehaves in one way at a time, after a
// good start and across midnight: the exact log line of each loop, the loops' cadence, every
// counted second kept, and the unconfirmed day confirmed once the backend is back.
#include "tests/agent/AgentTestSupport.h"

#include <QJsonArray>

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

const QString usagePath = QStringLiteral("/api/guard/heartbeat");

// One way for the backend to fail. The agent's limits run on virtual time: an answer held back is
// a stall, a trickle outlives the overall limit.
struct FaultCase {
    const char *name;
    std::optional<Response> everywhere;  // the answer of every route; none: nothing listens
    const char *failure;                 // of every request
    int requestSeconds = 0;              // a failing request's virtual time, under the real limits
};

// A good answer held back, trickled (trickleBytes every 1 ms), reset after resetAfterBytes or announced longer.
Response answer(QByteArray body, std::chrono::milliseconds delay, int trickleBytes = 0, int resetAfterBytes = -1,
                std::optional<qint64> claimedLength = {})
{
    Response r = Response::json(std::move(body));
    r.claimedLength = claimedLength;
    r.delay = delay;
    r.trickleBytes = trickleBytes;
    r.trickleInterval = 1ms;
    r.resetAfterBytes = resetAfterBytes;
    return r;
}

const FaultCase faultCases[] = {
    {"ConnectionRefused", {}, "Connection refused"},
    {"ConnectionResetMidAnswer", answer("{}", 0ms, 0, 1), "Connection closed"},
    {"Unauthorized401", Response::text(401, "token revoked"), "Server returned 401: token revoked"},
    {"ServerError500", Response::text(500, "oops"), "Server returned 500: oops"},
    {"SlowerThanTwentySeconds", answer("{}", 10min), "Request timed out: no data for 20 s", 20},
    {"TricklingPastSixtySeconds", answer(QByteArray(256 * 1024, ' ') + "{}", 0ms, 1),
     "Request timed out: not finished within 60 s", 60},
    {"BodyOverTheLimit", answer("{}", 0ms, 0, -1, 9 << 20), "Response refused: larger than 8 MiB"},
    {"RedirectToAnotherOrigin", Response::redirect(302, QUrl(QStringLiteral("http://127.0.0.2:9/api"))),
     "Redirect to another origin refused: http://127.0.0.2:9"},
};

class FaultMatrix : public AgentFixture, public ::testing::WithParamInterface<FaultCase> {
protected:
    // Each route's good answer, as the fixture set it, given back when the backend returns.
    const std::map<QString, Response> normal{
        {QStringLiteral("/api/devices/dev-1/heartbeat"), Response::json("{}")},
        {usagePath, Response::json("{}")},
        {QStringLiteral("/api/guard/my-installed-apps"), Response::json(xtermMonitored())},
        {QStringLiteral("/api/guard/desktop-apps-seen"), Response::json(R"({"recorded":0,"new":0})")}};

    // Moves virtual time in steps until `until` holds or d passed; after each, lets every answer begun (but not
    // one held back on purpose) reach the agent, up to 2 s of real time: a busy machine makes no virtual timeouts.
    bool advanceSettled(
        std::chrono::milliseconds d, std::chrono::milliseconds step, bool heldBack,
        const std::function<bool()> &until = [] { return false; })
    {
        for (; d > 0ms && !until(); d -= step) {
            clock.advance(std::min(d, step));
            pump(2ms);
            QElapsedTimer waited;
            waited.start();
            while (!heldBack && server.awaitingAnswers() > 0 && waited.elapsed() < 2000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pump(1ms);
        }
        return until();
    }

    qint64 countedSeconds() const
    {
        qint64 sum = 0;
        for (const auto &[date, day] : agent->ledger().days())
            sum += day.total();
        return sum;
    }
};

TEST_P(FaultMatrix, LoopsKeepTheirCadenceNothingIsLostAndTheDayIsConfirmedOnReturn)
{
    const FaultCase &fault = GetParam();
    const QString failure = QString::fromUtf8(fault.failure);
    desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}};
    storedIdentity();
    clock.jumpWallClock(14h + 50min);  // 23:50, so the outage spans midnight
    makeAgent(fault.requestSeconds > 0 ? BackendClient::Limits() : BackendClient::Limits{10min, 20min});
    agent->start();
    ASSERT_TRUE(waitFor([&] {
        return agent->lastBeat() && agent->monitored()->lastFetch() && requestsTo("/api/guard/heartbeat") == 1;
    }));
    advance(5s);
    pump(50ms);  // the first cycle's answers are all in

    LogCapture log;
    const qint64 before = countedSeconds();
    const QString yesterday = DayLedger::dateKey(clock.now(), clock.timeZone());
    ASSERT_TRUE(server.setRefusing(!fault.everywhere));
    for (const auto &[path, answer] : normal)
        server.respond(path, fault.everywhere.value_or(answer));
    // A trickle sends a few bytes in every 1 s step, so only the overall limit ends it.
    advanceSettled(20min, fault.requestSeconds == 60 ? 1s : 5s, fault.requestSeconds == 20);
    const QStringList during = log.lines();
    const QString all = during.join(QLatin1Char('\n'));

    EXPECT_EQ(countedSeconds() - before, 1200) << "every second in front of the monitored app, none twice";
    EXPECT_EQ(agent->monitored()->bundleIds().size(), 1) << "a failed refresh keeps the list it had";
    const auto beats = during.count(QStringLiteral("WARN ] heartbeat failed · ") + failure);
    const auto reports = during.count(QStringLiteral("WARN ] usage report failed · ") + failure);
    // One line per attempt, all alike: a beat every 15 s after the failing request, a report every
    // 300 s after its three requests; on a loaded machine a reply may arrive two 5 s steps late.
    EXPECT_GE(beats, 1200 / (15 + fault.requestSeconds + 10) - 1) << all.toStdString();
    EXPECT_LE(beats, 1200 / (15 + fault.requestSeconds) + 1) << all.toStdString();
    EXPECT_GE(reports, 1200 / (300 + 3 * fault.requestSeconds + 10) - 1) << all.toStdString();
    EXPECT_LE(reports, 1200 / 300 + 1);
    EXPECT_EQ(during.filter(QStringLiteral("heartbeat failed")).size(), beats);
    EXPECT_EQ(agent->lastBeatError().value_or(QString()), failure);
    const QStringList refreshes = during.filter(QStringLiteral("monitored apps refresh failed"));
    ASSERT_EQ(refreshes.size(), 1) << "refreshed once, after the third cycle";
    EXPECT_TRUE(refreshes.first().startsWith(QStringLiteral("WARN ] monitored apps refresh failed · ") + failure))
        << refreshes.first().toStdString();
    EXPECT_EQ(during.filter(QStringLiteral("ERROR")).size(), 0) << all.toStdString();

    // The backend comes back: within one cycle yesterday is confirmed with everything it counted.
    ASSERT_TRUE(server.setRefusing(false));
    for (const auto &[path, answer] : normal)
        server.respond(path, answer);
    const qsizetype reportedBefore = log.lines().filter(QStringLiteral("usage reported")).size();
    ASSERT_TRUE(advanceSettled(
        7min, 5s, false, [&] { return log.lines().filter(QStringLiteral("usage reported")).size() > reportedBefore; }));
    const DayRecord &day = agent->ledger().days().at(yesterday);
    EXPECT_NEAR(double(day.total()), 600, 1) << "the ten minutes before midnight";
    std::optional<qint64> sentTotal;
    for (const auto &request : server.requestsTo(usagePath))
        for (const auto &sent : request.json().value(QStringLiteral("daily_usage_backfill")).toArray())
            if (sent[QStringLiteral("date")].toString() == yesterday)
                sentTotal = sent[QStringLiteral("total_seconds")].toInteger();
    EXPECT_EQ(sentTotal, day.total()) << "the last copy the backend got of yesterday is whole";
    EXPECT_EQ(day.reportedTotal, day.total());
    EXPECT_EQ(DayLedger(supportDir() + QStringLiteral("/ledger.json"), clock).days().at(yesterday).reportedTotal,
              day.total())
        << "the confirmation was saved";
    ASSERT_TRUE(advanceSettled(20s, 5s, false, [&] { return !agent->lastBeatError(); }));
    EXPECT_EQ(log.lines().count(QStringLiteral("INFO ] heartbeat recovered")), 1) << log.text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(faultCases),
                         [](const auto &param) { return std::string(param.param.name); });

}  // namespace
