// The whole agent on virtual time against a backend that misbehaves in one way at a time, after a
// good start and across midnight: the exact log line of each loop, the loops' cadence, every
// counted second kept, and the unconfirmed day confirmed once the backend is back.
#include "tests/agent/AgentTestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QScopeGuard>
#include <QSslKey>

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

const QString beatPath = QStringLiteral("/api/devices/dev-1/heartbeat");
const QString usagePath = QStringLiteral("/api/guard/heartbeat");
const QString listPath = QStringLiteral("/api/guard/my-installed-apps");

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

class FaultFixture : public AgentFixture {
protected:
    // Each route's good answer, as the fixture set it, given back when the backend returns.
    const std::map<QString, Response> normal{
        {beatPath, Response::json("{}")},
        {usagePath, Response::json("{}")},
        {listPath, Response::json(xtermMonitored())},
        {QStringLiteral("/api/guard/desktop-apps-seen"), Response::json(R"({"recorded":0,"new":0})")}};

    FaultFixture() { desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}}; }

    // Moves virtual time in steps; after each, lets every answer begun (but not one held back on
    // purpose) reach the agent, up to 2 s of real time, so a busy machine makes no virtual timeouts.
    void advanceSettled(std::chrono::milliseconds d, std::chrono::milliseconds step, bool heldBack = false)
    {
        for (; d > 0ms; d -= step) {
            clock.advance(std::min(d, step));
            pump(2ms);
            QElapsedTimer waited;
            waited.start();
            while (!heldBack && server.awaitingAnswers() > 0 && waited.elapsed() < 2000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pump(1ms);
        }
    }

    qint64 countedSeconds() const
    {
        qint64 sum = 0;
        for (const auto &[date, day] : agent->ledger().days())
            sum += day.total();
        return sum;
    }
};

enum class Mode { Pass, Refuse, UntrustedCertificate };

// One way for the backend to fail. The agent's limits run on virtual time: an answer held back is
// a stall, a trickle outlives the overall limit.
struct FaultCase {
    const char *name;
    Mode mode;
    std::optional<Response> everywhere;  // the answer of every route
    const char *failure;                 // of every request; empty: heartbeat and report succeed
    int requestSeconds = 0;              // a failing request's virtual time, under the real limits
    std::optional<Response> list = {};   // the answer of the monitored list only
    const char *refreshFailure = nullptr;
};

void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

Response delayed(Response r, std::chrono::milliseconds delay, int trickleBytes = 0)
{
    r.delay = delay;
    r.trickleBytes = trickleBytes;
    r.trickleInterval = 1ms;
    return r;
}

Response resetMidBody()
{
    Response r = Response::json("{}");
    r.resetAfterBytes = 1;
    return r;
}

const FaultCase faultCases[] = {
    {"ConnectionRefused", Mode::Refuse, {}, "Connection refused"},
    {"ConnectionResetMidAnswer", Mode::Pass, resetMidBody(), "Connection closed"},
    {"Unauthorized401", Mode::Pass, Response::text(401, "token revoked"), "Server returned 401: token revoked"},
    {"ServerError500", Mode::Pass, Response::text(500, "oops"), "Server returned 500: oops"},
    {"SlowerThanTwentySeconds", Mode::Pass, delayed(Response::json("{}"), 10min), "Request timed out: no data for 20 s",
     20},
    {"TricklingPastSixtySeconds", Mode::Pass, delayed(Response::json(QByteArray(64 * 1024, ' ') + "{}"), 0ms, 1),
     "Request timed out: not finished within 60 s", 60},
    // Heartbeat and usage answers are not read, so only the monitored list suffers from bad JSON.
    {"MalformedJson",
     Mode::Pass,
     {},
     "",
     0,
     Response::json(R"({"apps":[{"package_id":"linux:xterm")"),
     "Could not read InstalledAppsResponse"},
    {"BodyOverTheLimit", Mode::Pass, Response::json(QByteArray(9 * 1024 * 1024, ' ') + "{}"),
     "Response refused: larger than 8 MiB"},
    {"RedirectToAnotherOrigin", Mode::Pass, Response::redirect(302, QUrl(QStringLiteral("http://127.0.0.2:9/api"))),
     "Redirect to another origin refused: http://127.0.0.2:9"},
    {"SelfSignedCertificate",
     Mode::UntrustedCertificate,
     {},
     "SSL handshake failed: The certificate is self-signed, and untrusted"},
};

class FaultMatrix : public FaultFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrix, LoopsKeepTheirCadenceNothingIsLostAndTheDayIsConfirmedOnReturn)
{
    const FaultCase &fault = GetParam();
    const QString failure = QString::fromUtf8(fault.failure);
    const bool tls = fault.mode == Mode::UntrustedCertificate;
    storedIdentity();
    clock.jumpWallClock(14h + 50min);  // 23:50, so the outage spans midnight
    // The test authority is trusted besides the system's own, as a properly issued certificate is.
    const QSslConfiguration systemTls = QSslConfiguration::defaultConfiguration();
    // The backend's port in the fault's state (broken) or in a working one.
    const auto serve = [&](bool broken) {
        return server.setRefusing(broken && fault.mode == Mode::Refuse) &&
               (!tls || server.serveTls(serverTls(QString::fromLatin1(broken ? "self-signed" : "trusted"))));
    };
    if (tls) {
        QSslConfiguration trusting = systemTls;
        trusting.addCaCertificates(QSslCertificate::fromData(resource(QStringLiteral("test-ca.pem"))));
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
    ASSERT_TRUE(serve(false));
    const auto restoreTls = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(systemTls); });
    makeAgent(QUrl(QStringLiteral("%1://127.0.0.1:%2").arg(tls ? "https" : "http").arg(server.port())),
              fault.requestSeconds > 0 ? BackendClient::Limits() : BackendClient::Limits{10min, 20min});
    agent->start();
    ASSERT_TRUE(waitFor([&] {
        return agent->lastBeat() && agent->monitored()->lastFetch() && requestsTo("/api/guard/heartbeat") == 1;
    }));
    advance(5s);
    pump(50ms);  // the first cycle's answers are all in

    LogCapture log;
    const qint64 before = countedSeconds();
    const QString yesterday = DayLedger::dateKey(clock.now(), clock.timeZone());
    ASSERT_TRUE(serve(true));
    for (const auto &[path, answer] : normal)
        if (fault.everywhere || (fault.list && path == listPath))
            server.respond(path, fault.everywhere ? *fault.everywhere : *fault.list);
    // A trickle sends a few bytes in every 1 s step, so only the overall limit ends it.
    advanceSettled(20min, fault.requestSeconds == 60 ? 1s : 5s, fault.requestSeconds == 20);
    const QStringList during = log.lines();
    const QString all = during.join(QLatin1Char('\n'));

    EXPECT_EQ(countedSeconds() - before, 1200) << "every second in front of the monitored app, none twice";
    EXPECT_EQ(agent->monitored()->bundleIds().size(), 1) << "a failed refresh keeps the list it had";
    const auto beats = during.count(QStringLiteral("WARN ] heartbeat failed · ") + failure);
    const auto reports = during.count(QStringLiteral("WARN ] usage report failed · ") + failure);
    if (failure.isEmpty()) {
        EXPECT_EQ(during.filter(QStringLiteral("heartbeat failed")).size(), 0);
    } else {
        // One line per attempt, all alike: a beat every 15 s after the failing request, a report
        // every 300 s after its three requests; on a loaded machine a reply may arrive two 5 s steps late.
        EXPECT_GE(beats, 1200 / (15 + fault.requestSeconds + 10) - 1) << all.toStdString();
        EXPECT_LE(beats, 1200 / (15 + fault.requestSeconds) + 1) << all.toStdString();
        EXPECT_GE(reports, 1200 / (300 + 3 * fault.requestSeconds + 10) - 1) << all.toStdString();
        EXPECT_LE(reports, 1200 / 300 + 1);
        EXPECT_EQ(during.filter(QStringLiteral("heartbeat failed")).size(), beats);
        EXPECT_EQ(agent->lastBeatError().value_or(QString()), failure);
    }
    const QStringList refreshes = during.filter(QStringLiteral("monitored apps refresh failed"));
    ASSERT_EQ(refreshes.size(), 1) << "refreshed once, after the third cycle";
    EXPECT_TRUE(
        refreshes.first().startsWith(QStringLiteral("WARN ] monitored apps refresh failed · ") +
                                     QString::fromUtf8(fault.refreshFailure ? fault.refreshFailure : fault.failure)))
        << refreshes.first().toStdString();
    EXPECT_EQ(during.filter(QStringLiteral("ERROR")).size(), 0) << all.toStdString();

    // The backend comes back: within one cycle yesterday is confirmed with everything it counted
    // (a fault that spared the usage report confirmed it already).
    ASSERT_TRUE(serve(false));
    for (const auto &[path, answer] : normal)
        server.respond(path, answer);
    const qsizetype reportedBefore = log.lines().filter(QStringLiteral("usage reported")).size();
    ASSERT_TRUE(advanceUntil(
        [&] { return log.lines().filter(QStringLiteral("usage reported")).size() > reportedBefore; }, 7min));
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
    if (!failure.isEmpty()) {
        ASSERT_TRUE(advanceUntil([&] { return !agent->lastBeatError(); }, 20s));
        EXPECT_EQ(log.lines().count(QStringLiteral("INFO ] heartbeat recovered")), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(faultCases),
                         [](const auto &param) { return std::string(param.param.name); });

}  // namespace
