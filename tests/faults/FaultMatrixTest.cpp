// The whole agent on virtual time against a backend that misbehaves in one way at a time, after a
// good start and across midnight: the exact log line of each loop, the loops' cadence, every
// counted second kept, and the unconfirmed day confirmed once the backend is back.
#include "tests/agent/AgentTestSupport.h"
#include "tests/faults/FaultFront.h"

#include <QFile>
#include <QJsonArray>
#include <QSslKey>

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

const QString beatPath = QStringLiteral("/api/devices/dev-1/heartbeat");
const QString usagePath = QStringLiteral("/api/guard/heartbeat");
const QString listPath = QStringLiteral("/api/guard/my-installed-apps");
const QString seenPath = QStringLiteral("/api/guard/desktop-apps-seen");
const QByteArray goodList = R"({"apps":[{"package_id":"linux:xterm","is_blocked":true}]})";

QByteArray resource(const QString &name)
{
    QFile file(QStringLiteral(":/tls/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A server's TLS settings with one of the certificates made by tls/make-certificates.sh.
QSslConfiguration serverTls(const QString &name)
{
    QSslConfiguration tls;
    tls.setLocalCertificate(QSslCertificate(resource(name + QStringLiteral(".pem"))));
    tls.setPrivateKey(QSslKey(resource(name + QStringLiteral(".key")), QSsl::Ec));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

// While it lives, every TLS client of the process trusts the test authority besides the system's
// own, as a backend with a properly issued certificate is trusted.
class TrustedTestAuthority {
public:
    TrustedTestAuthority() : m_saved(QSslConfiguration::defaultConfiguration())
    {
        QSslConfiguration trusting = m_saved;
        trusting.addCaCertificates(QSslCertificate::fromData(resource(QStringLiteral("test-ca.pem"))));
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
    ~TrustedTestAuthority() { QSslConfiguration::setDefaultConfiguration(m_saved); }
    TrustedTestAuthority(const TrustedTestAuthority &) = delete;
    TrustedTestAuthority &operator=(const TrustedTestAuthority &) = delete;

private:
    QSslConfiguration m_saved;
};

class FaultFixture : public AgentFixture {
protected:
    FaultFront front{server.port()};

    FaultFixture() { desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}}; }

    ~FaultFixture() override
    {
        // The agent goes before the front it talks through.
        agent.reset();
        clock.runDue();
        pump(std::chrono::milliseconds(50));
    }

    // Moves virtual time in steps; after each one, lets every answer the server has begun reach
    // the agent (up to 2 s of real time), so a busy machine does not turn into virtual timeouts.
    // An answer held back on purpose is not waited for.
    void advanceSettled(std::chrono::milliseconds d, std::chrono::milliseconds step, bool answersHeldBack = false)
    {
        for (; d > std::chrono::milliseconds(0); d -= step) {
            clock.advance(std::min(d, step));
            pump(std::chrono::milliseconds(2));
            QElapsedTimer waited;
            waited.start();
            while (!answersHeldBack && front.awaitingAnswers() > 0 && waited.elapsed() < 2000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pump(std::chrono::milliseconds(1));
        }
    }

    // Time limits far beyond any test step, unless a case is about the limits themselves: an
    // answer that reaches a busy machine's event loop a few steps late is then no failure.
    static BackendClient::Limits patientLimits() { return {std::chrono::minutes(10), std::chrono::minutes(20)}; }

    void makeAgentBehindFront(BackendClient::Limits limits = patientLimits(), const char *scheme = "http")
    {
        QDir().mkpath(supportDir());
        const QUrl url(QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(front.port()));
        agent = std::make_unique<Agent>(clock, platform, url, supportDir(), limits);
    }

    void answerEverything(const Response &r)
    {
        for (const QString &path : {beatPath, usagePath, listPath, seenPath})
            server.respond(path, r);
    }

    void answerNormally()
    {
        server.respond(beatPath, Response::json("{}"));
        server.respond(usagePath, Response::json("{}"));
        server.respond(listPath, Response::json(goodList));
        server.respond(seenPath, Response::json(R"({"recorded":0,"new":0})"));
    }

    qint64 countedSeconds() const
    {
        qint64 sum = 0;
        for (const auto &[date, day] : agent->ledger().days())
            sum += day.total();
        return sum;
    }

    std::map<QString, DayRecord> ledgerOnDisk() const
    {
        QFile file(supportDir() + QStringLiteral("/ledger.json"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const auto days = DayLedger::decode(file.readAll());
        return days ? days.value() : std::map<QString, DayRecord>{};
    }

    static qsizetype count(const QStringList &lines, const QString &line) { return lines.count(line); }
};

// One way for the backend to fail. Responses are real-time behaviour of the loopback server; the
// agent's limits run on virtual time, so a held-back answer is a stall and a trickle outlives the
// overall limit.
struct FaultCase {
    const char *name;
    FaultFront::Mode mode = FaultFront::Mode::Pass;
    std::optional<Response> everywhere = {};  // the answer of every route
    std::optional<Response> lists = {};       // the answer of the monitored list only
    QString failure = {};                     // heartbeat and usage report; empty: they succeed
    QString refreshFailure = {};              // the monitored list's refresh
    int requestSeconds = 0;                   // how long one failing request takes in virtual time
    std::chrono::seconds step{5};             // virtual time per turn of the event loop
    bool heldBack = false;                    // the server holds its answers back on purpose
    bool realLimits = false;                  // the case is about the time limits
    bool tls = false;                         // the backend is reached over https
};

void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

Response slow()
{
    Response r = Response::json("{}");
    r.delay = 10min;  // far beyond the test; only the stall limit ends it
    return r;
}

Response trickle()
{
    Response r = Response::json(QByteArray(64 * 1024, ' ') + "{}");
    r.trickleBytes = 1;
    r.trickleInterval = 1ms;
    return r;
}

Response oversized()
{
    return Response::json(QByteArray(9 * 1024 * 1024, ' ') + "{}");
}

std::vector<FaultCase> faultCases()
{
    const QString refused = QStringLiteral("Connection refused");
    const QString reset = QStringLiteral("Connection closed");
    auto statusCase = [](const char *name, int code, QByteArray body, QString text) {
        FaultCase c{name};
        c.everywhere = Response::text(code, std::move(body));
        c.failure = c.refreshFailure = std::move(text);
        return c;
    };
    std::vector<FaultCase> cases;
    cases.push_back({"ConnectionRefused", FaultFront::Mode::Refuse, {}, {}, refused, refused});
    cases.push_back({"ConnectionResetMidAnswer", FaultFront::Mode::ResetMidAnswer, {}, {}, reset, reset});
    cases.push_back(
        statusCase("Unauthorized401", 401, "token revoked", QStringLiteral("Server returned 401: token revoked")));
    cases.push_back(
        statusCase("NotFound404", 404, "gone", QStringLiteral("Not found (404) — the device may have been removed")));
    cases.push_back(statusCase("ServerError500", 500, "oops", QStringLiteral("Server returned 500: oops")));
    cases.push_back(statusCase("BadGateway502", 502, "<html>bad gateway</html>",
                               QStringLiteral("Server returned 502: <html>bad gateway</html>")));
    cases.push_back(
        statusCase("Unavailable503", 503, "maintenance", QStringLiteral("Server returned 503: maintenance")));
    FaultCase stall{"SlowerThanTwentySeconds"};
    stall.everywhere = slow();
    stall.failure = stall.refreshFailure = QStringLiteral("Request timed out: no data for 20 s");
    stall.requestSeconds = 20;
    stall.heldBack = true;
    stall.realLimits = true;
    cases.push_back(stall);
    FaultCase trickling{"TricklingPastSixtySeconds"};
    trickling.everywhere = trickle();
    trickling.failure = trickling.refreshFailure = QStringLiteral("Request timed out: not finished within 60 s");
    trickling.requestSeconds = 60;
    trickling.realLimits = true;
    trickling.step = 1s;  // a few bytes arrive in every step, so the stall limit never fires
    cases.push_back(trickling);
    // Heartbeat and usage answers are not read, so only the monitored list suffers from bad JSON.
    FaultCase malformed{"MalformedJson"};
    malformed.lists = Response::json(R"({"apps":[{"package_id":"linux:xterm")");
    malformed.refreshFailure = QStringLiteral("Could not read InstalledAppsResponse");
    cases.push_back(malformed);
    FaultCase wrongType{"WrongTypeInRequiredMember"};
    wrongType.lists = Response::json(R"({"apps":"linux:xterm"})");
    wrongType.refreshFailure = QStringLiteral("Could not read InstalledAppsResponse");
    cases.push_back(wrongType);
    FaultCase big{"BodyOverTheLimit"};
    big.everywhere = oversized();
    big.failure = big.refreshFailure = QStringLiteral("Response refused: larger than 8 MiB");
    cases.push_back(big);
    FaultCase away{"RedirectToAnotherOrigin"};
    away.everywhere = Response::redirect(302, QUrl(QStringLiteral("http://127.0.0.2:9/api")));
    away.failure = away.refreshFailure = QStringLiteral("Redirect to another origin refused: http://127.0.0.2:9");
    cases.push_back(away);
    FaultCase untrusted{"SelfSignedCertificate", FaultFront::Mode::UntrustedCertificate};
    untrusted.failure = untrusted.refreshFailure =
        QStringLiteral("SSL handshake failed: The certificate is self-signed, and untrusted");
    untrusted.tls = true;
    cases.push_back(untrusted);
    return cases;
}

class FaultMatrix : public FaultFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrix, LoopsKeepTheirCadenceNothingIsLostAndTheDayIsConfirmedOnReturn)
{
    const FaultCase &fault = GetParam();
    storedIdentity();
    clock.jumpWallClock(14h + 50min);  // 23:50, so the outage spans midnight
    std::optional<TrustedTestAuthority> authority;
    if (fault.tls) {
        authority.emplace();
        ASSERT_TRUE(front.serveTls(serverTls(QStringLiteral("trusted")), serverTls(QStringLiteral("self-signed"))));
    }
    makeAgentBehindFront(fault.realLimits ? BackendClient::Limits() : patientLimits(), fault.tls ? "https" : "http");
    agent->start();
    ASSERT_TRUE(waitFor([&] {
        return agent->lastBeat() && agent->monitored()->lastFetch() && requestsTo("/api/guard/heartbeat") == 1;
    }));
    advance(5s);
    pump(std::chrono::milliseconds(50));  // the first cycle's answers are all in

    LogCapture log;
    const qint64 before = countedSeconds();
    const QString yesterday = DayLedger::dateKey(clock.now(), clock.timeZone());
    ASSERT_TRUE(front.setMode(fault.mode));
    if (fault.everywhere)
        answerEverything(*fault.everywhere);
    if (fault.lists)
        server.respond(listPath, *fault.lists);
    const auto window = 20min;
    advanceSettled(window, fault.step, fault.heldBack);
    const QStringList during = log.lines();

    // Every second in front of the monitored app was counted, and none twice.
    EXPECT_EQ(countedSeconds() - before, std::chrono::seconds(window).count());
    EXPECT_EQ(agent->monitored()->bundleIds().size(), 1) << "a failed refresh keeps the list it had";

    const auto seconds = double(std::chrono::seconds(window).count());
    const int slack = 5;  // a reply may arrive one 5 s step late on a busy machine
    if (fault.failure.isEmpty()) {
        EXPECT_EQ(during.filter(QStringLiteral("failed · ")).filter(QStringLiteral("heartbeat")).size(), 0);
    } else {
        const auto beats = count(during, QStringLiteral("WARN ] heartbeat failed · ") + fault.failure);
        const auto reports = count(during, QStringLiteral("WARN ] usage report failed · ") + fault.failure);
        EXPECT_GE(beats, qsizetype(seconds / (15 + fault.requestSeconds + slack)) - 1)
            << during.join(QLatin1Char('\n')).toStdString();
        EXPECT_LE(beats, qsizetype(seconds / (15 + fault.requestSeconds)) + 1);
        EXPECT_GE(reports, qsizetype(seconds / (300 + 3 * fault.requestSeconds + slack)) - 1)
            << during.join(QLatin1Char('\n')).toStdString();
        EXPECT_LE(reports, qsizetype(seconds / 300) + 1);
        EXPECT_EQ(during.filter(QStringLiteral("heartbeat failed")).size(), beats)
            << "one line per attempt, all alike: " << during.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(agent->lastBeatError().value_or(QString()), fault.failure);
    }
    const QStringList refreshes = during.filter(QStringLiteral("monitored apps refresh failed"));
    ASSERT_EQ(refreshes.size(), 1) << "refreshed once, after the third cycle";
    EXPECT_TRUE(
        refreshes.first().startsWith(QStringLiteral("WARN ] monitored apps refresh failed · ") + fault.refreshFailure))
        << refreshes.first().toStdString();
    EXPECT_EQ(during.filter(QStringLiteral("ERROR")).size(), 0) << during.join(QLatin1Char('\n')).toStdString();

    // The backend comes back: within one cycle yesterday is confirmed with everything it counted
    // (a fault that spared the usage report confirmed it already).
    ASSERT_TRUE(front.setMode(FaultFront::Mode::Pass));
    answerNormally();
    const qsizetype reportedBefore = log.lines().filter(QStringLiteral("usage reported")).size();
    ASSERT_TRUE(
        advanceUntil([&] { return log.lines().filter(QStringLiteral("usage reported")).size() > reportedBefore; },
                     Agent::reportInterval + 2min));
    const DayRecord &day = agent->ledger().days().at(yesterday);
    EXPECT_NEAR(double(day.total()), 600, 1) << "the ten minutes before midnight";
    std::optional<qint64> sentTotal;
    for (const auto &request : server.requestsTo(usagePath))
        for (const auto &sent : request.json().value(QStringLiteral("daily_usage_backfill")).toArray())
            if (sent[QStringLiteral("date")].toString() == yesterday)
                sentTotal = sent[QStringLiteral("total_seconds")].toInteger();
    EXPECT_EQ(sentTotal, day.total()) << "the last copy the backend got of yesterday is whole";
    EXPECT_EQ(day.reportedTotal, day.total());
    EXPECT_EQ(ledgerOnDisk().at(yesterday).reportedTotal, day.total()) << "the confirmation was saved";
    if (!fault.failure.isEmpty()) {
        ASSERT_TRUE(advanceUntil([&] { return !agent->lastBeatError(); }, Agent::heartbeatInterval + 5s));
        EXPECT_EQ(log.lines().count(QStringLiteral("INFO ] heartbeat recovered")), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(faultCases()),
                         [](const auto &param) { return std::string(param.param.name); });

class LongOutage : public FaultFixture {};

// Days the backend never confirmed: 28 in the file from earlier runs, then two more counted live
// with every connection refused. All 30 reach the backend within five cycles of its return, seven
// per report, each report's days in date order, the latest days first.
TEST_F(LongOutage, ThirtyUnconfirmedDaysAreAllReportedWithinAFewCyclesOfTheReturn)
{
    storedIdentity();
    clock.jumpWallClock(-9h);  // midnight
    const QDateTime start = clock.now();
    QDir().mkpath(supportDir());
    {
        DayLedger earlier(supportDir() + QStringLiteral("/ledger.json"), clock);
        for (int back = 28; back >= 1; --back)
            earlier.add(600 + back, start.addDays(-back).addSecs(12 * 3600));
        ASSERT_TRUE(earlier.save());
    }
    server.respond(usagePath, Response::text(503, "maintenance"));
    makeAgentBehindFront();
    agent->start();
    ASSERT_TRUE(waitFor([&] { return agent->monitored()->lastFetch() && requestsTo("/api/guard/heartbeat") == 1; }));
    ASSERT_TRUE(front.setMode(FaultFront::Mode::Refuse));
    const qint64 before = countedSeconds();
    // Two days in steps of two minutes: the sampler ticks every second inside each step.
    advanceSettled(48h, 2min);
    EXPECT_EQ(countedSeconds() - before, 48 * 3600) << "every second of the outage counted";

    LogCapture log;
    server.clearRequests();
    answerNormally();
    ASSERT_TRUE(front.setMode(FaultFront::Mode::Pass));
    ASSERT_TRUE(advanceUntil([&] { return log.lines().filter(QStringLiteral("usage reported")).size() == 5; },
                             6 * Agent::reportInterval));
    std::vector<QStringList> sent;
    for (const auto &request : server.requestsTo(usagePath)) {
        QStringList dates;
        for (const auto &day : request.json().value(QStringLiteral("daily_usage_backfill")).toArray())
            dates << day[QStringLiteral("date")].toString();
        sent.push_back(dates);
    }
    ASSERT_EQ(sent.size(), 5u);
    QStringList all;
    for (const QStringList &dates : sent) {
        QStringList sorted = dates;
        sorted.sort();
        EXPECT_EQ(dates, sorted) << "oldest first within a report";
        EXPECT_LE(dates.size(), 7);
        if (!all.isEmpty() && !dates.isEmpty()) {
            EXPECT_LT(dates.last(), all.first()) << "each report goes further back";
        }
        all = dates + all;
    }
    EXPECT_EQ(all.size(), 30);
    EXPECT_EQ(all.first(), DayLedger::dateKey(start.addDays(-28), clock.timeZone()));
    EXPECT_EQ(all.last(), DayLedger::dateKey(start.addDays(1), clock.timeZone()));
    const QString today = DayLedger::dateKey(clock.now(), clock.timeZone());
    for (const auto &[date, day] : ledgerOnDisk())
        if (date != today) {
            EXPECT_EQ(day.reportedTotal, day.total()) << date.toStdString();
        }
}

}  // namespace
