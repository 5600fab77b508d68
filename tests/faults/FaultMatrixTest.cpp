// The agent on virtual time against one backend fault across midnight: log lines, cadence, no second lost.
#include "tests/agent/AgentTestSupport.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

const QString usagePath = QStringLiteral("/api/guard/heartbeat");

// One backend fault, on virtual time: an answer held back is a stall, a trickle outlives the overall limit.
struct FaultCase {
    const char *name;
    std::optional<Response> everywhere;  // the answer of every route; none: nothing listens
    const char *failure;                 // of every request
    int beats;                           // failed beats in 20 min: one 15 s after the last ended
    int reports;                         // failed reports in 20 min: one 300 s after the last ended
    int requestSeconds = 0;              // a failing request's virtual time, under the real limits
};

// A good answer held back, trickled (trickleBytes every 1 ms) or reset after resetAfterBytes. A 401, a body over
// the limit or a redirect elsewhere fail as the 500 does: the client and pairing tests tell them apart.
Response answer(QByteArray body, std::chrono::milliseconds delay, int trickleBytes = 0, int resetAfterBytes = -1)
{
    Response r = Response::json(std::move(body));
    r.delay = delay;
    r.trickleBytes = trickleBytes;
    r.trickleInterval = 1ms;
    r.resetAfterBytes = resetAfterBytes;
    return r;
}

const FaultCase faultCases[] = {
    {"ConnectionRefused", {}, "Connection refused", 80, 4},
    {"ConnectionResetMidAnswer", answer("{}", 0ms, 0, 1), "Connection closed", 80, 4},
    {"ServerError500", Response::text(500, "oops"), "Server returned 500: oops", 80, 4},
    {"SlowerThanTwentySeconds", answer("{}", 10min), "Request timed out: no data for 20 s", 34, 3, 20},
    {"TricklingPastSixtySeconds", answer(QByteArray(256 * 1024, ' ') + "{}", 0ms, 1),
     "Request timed out: not finished within 60 s", 16, 2, 60},
};

// The agent's QNetworkReplys, seen as children added to a QNetworkAccessManager, open until finished.
class AgentReplies : public QObject {
public:
    AgentReplies() { QCoreApplication::instance()->installEventFilter(this); }
    ~AgentReplies() override { QCoreApplication::instance()->removeEventFilter(this); }
    struct Count {
        std::size_t created;
        int open;
        bool moved;  // every open one took bytes in since markMoves()
    };
    Count count()
    {
        for (const QPointer<QObject> &child : std::exchange(m_added, {}))
            if (auto *reply = qobject_cast<QNetworkReply *>(child.data())) {
                auto moves = m_open.emplace_back(reply, std::make_shared<int>(0)).second;
                connect(reply, &QNetworkReply::readyRead, this, [moves] { ++*moves; });
                ++m_created;
            }
        std::erase_if(m_open, [](const auto &r) { return !r.first || r.first->isFinished(); });
        return {m_created, int(m_open.size()),
                std::all_of(m_open.begin(), m_open.end(), [](const auto &r) { return *r.second > 0; })};
    }
    void markMoves()
    {
        for (auto &[reply, moves] : m_open)
            *moves = 0;
    }

private:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded && qobject_cast<QNetworkAccessManager *>(watched))
            m_added.emplace_back(static_cast<QChildEvent *>(event)->child());
        return false;
    }

    std::vector<QPointer<QObject>> m_added;
    std::vector<std::pair<QPointer<QNetworkReply>, std::shared_ptr<int>>> m_open;
    std::size_t m_created = 0;
};

class FaultMatrix : public AgentFixture, public ::testing::WithParamInterface<FaultCase> {
protected:
    AgentReplies replies;
    // Moves virtual time in steps until `until` holds or d passed, settling before each step.
    bool advanceSettled(
        std::chrono::milliseconds d, std::chrono::milliseconds step, bool trickle,
        const std::function<bool()> &until = [] { return false; })
    {
        for (settle(trickle); d > 0ms && !until(); d -= step) {
            clock.advance(std::min(d, step));
            settle(trickle);
        }
        return until();
    }

    // Pumps events (virtual time still) until every open request is one the server holds on purpose.
    void settle(bool trickle)
    {
        replies.markMoves();
        const QDeadlineTimer deadline(60s);
        for (int quiet = 0; quiet < 3;) {
            if (deadline.hasExpired())
                return ADD_FAILURE() << replies.count().open << " requests open, " << server.answersHeld() << " held";
            QEventLoop loop;
            QTimer::singleShot(1ms, &loop, &QEventLoop::quit);
            loop.exec();
            clock.runDue();
            const AgentReplies::Count c = replies.count();
            const bool settled = c.open == 0 || (server.requests().size() >= c.created &&
                                                 c.open == server.answersHeld() && (!trickle || c.moved));
            quiet = settled ? quiet + 1 : 0;
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
    advanceSettled(5s, 5s, false);  // the first cycle's answers are all in
    LogCapture log;
    const qint64 before = countedSeconds();
    const QString yesterday = DayLedger::dateKey(clock.now(), clock.timeZone());
    ASSERT_TRUE(server.setRefusing(!fault.everywhere));
    server.respondEverywhere(fault.everywhere);
    // A trickle sends a few bytes in every 1 s step, so only the overall limit ends it.
    advanceSettled(20min, fault.requestSeconds == 60 ? 1s : 5s, fault.requestSeconds == 60);
    const QStringList during = log.lines();
    const QString all = during.join(QLatin1Char('\n'));
    EXPECT_EQ(countedSeconds() - before, 1200) << "every second in front of the monitored app, none twice";
    EXPECT_EQ(agent->monitored()->bundleIds().size(), 1) << "a failed refresh keeps the list it had";
    const auto beats = during.count(QStringLiteral("WARN ] heartbeat failed · ") + failure);
    const auto reports = during.count(QStringLiteral("WARN ] usage report failed · ") + failure);
    // One line per attempt: a beat 15 s after the last ended, a report 300 s after its three requests ended.
    EXPECT_EQ(beats, fault.beats) << all.toStdString();
    EXPECT_EQ(reports, fault.reports) << all.toStdString();
    EXPECT_EQ(during.filter(QStringLiteral("heartbeat failed")).size(), beats);
    EXPECT_EQ(agent->lastBeatError().value_or(QString()), failure);
    const QStringList refreshes = during.filter(QStringLiteral("monitored apps refresh failed"));
    ASSERT_EQ(refreshes.size(), 1) << "refreshed once, after the third cycle";
    EXPECT_TRUE(refreshes.first().startsWith(QStringLiteral("WARN ] monitored apps refresh failed · ") + failure))
        << refreshes.first().toStdString();
    EXPECT_EQ(during.filter(QStringLiteral("ERROR")).size(), 0) << all.toStdString();
    // The backend restarts (held answers dropped): within one cycle yesterday is confirmed whole.
    ASSERT_TRUE(server.setRefusing(true) && server.setRefusing(false));
    server.respondEverywhere({});  // the fixture's good answers
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
