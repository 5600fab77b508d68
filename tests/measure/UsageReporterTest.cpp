// A usage report cycle against a loopback backend: what is sent, marked, pruned, saved, logged and narrowed.
#include "measure/UsageReporter.h"
#include "tests/backend/BackendTestSupport.h"
#include "tests/support/LogCapture.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimeZone>

namespace fennimar::test {
namespace {

QDateTime at(int month, int day, int hour = 10)
{
    return QDateTime(QDate(2026, month, day), QTime(hour, 0), QTimeZone::utc());
}

class UsageReporterTest : public LoopbackClientTest {
protected:
    // Today (the clock's 2026-03-14), ten unconfirmed past days, one confirmed day and one long gone.
    void addTenDays()
    {
        ledger.add(600, at(3, 14, 8));
        for (int day = 4; day <= 13; ++day)
            ledger.add(day * 10, at(3, day));
        ledger.days()["2026-03-13"].reportedTotal = 130;
        ledger.add(50, at(2, 1));
    }
    QStringList sentDays(qsizetype request) const
    {
        QStringList dates;
        for (const auto &day : server.requests().at(request).json()["daily_usage_backfill"].toArray())
            dates << day.toObject()["date"].toString();
        return dates;
    }

    QTemporaryDir dir;
    DayLedger ledger{dir.filePath("ledger.json"), clock};
    UsageReporter reporter{client, ledger, PairedIdentity{"dev1", "child1", "Robin", "tok", clock.now()}, clock,
                           system};
};

TEST_F(UsageReporterTest, SuccessMarksWhatWasSentPrunesAndSaves)
{
    Response slow = Response::json({});
    slow.delay = std::chrono::milliseconds(200);
    server.respond("/api/guard/heartbeat", slow);
    addTenDays();
    LogCapture log;
    auto cycle = reporter.report();
    ASSERT_TRUE(server.waitForRequests(1));
    ledger.add(5, at(3, 12));  // credited while the request is in flight
    finish(std::move(cycle));
    const QJsonObject body = server.requests().at(0).json();
    EXPECT_EQ(body["daily_usage"]["total_seconds"].toInteger(), 600);
    EXPECT_EQ(sentDays(0), (QStringList{"2026-03-06", "2026-03-07", "2026-03-08", "2026-03-09", "2026-03-10",
                                        "2026-03-11", "2026-03-12"}));
    const auto &days = ledger.days();
    EXPECT_EQ(days.count("2026-02-01"), 0u);             // pruned
    EXPECT_EQ(days.at("2026-03-05").reportedTotal, -1);  // not among the seven sent
    EXPECT_EQ(days.at("2026-03-06").reportedTotal, 60);
    EXPECT_EQ(days.at("2026-03-12").reportedTotal, 120);  // what was sent, not the 125 it holds now
    EXPECT_EQ(days.at("2026-03-12").total(), 125);
    EXPECT_EQ(days.at("2026-03-14").reportedTotal, -1);  // today is never marked
    QFile file(ledger.storePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(DayLedger::decode(file.readAll()).value(), days);
    EXPECT_EQ(reporter.lastReport(), clock.now());
    EXPECT_FALSE(reporter.lastError());
    EXPECT_TRUE(log.lines().contains("INFO ] usage reported · today=600s · backfill=7 day(s)"));
}

// A 400/422 report: today alone, then each unconfirmed day alone; a day refused alone is offered no more.
TEST_F(UsageReporterTest, ARefusedReportIsNarrowedToTheDayAtFault)
{
    // Today is 2026-03-14; three unconfirmed days, of which the backend refuses 03-12.
    ledger.add(600, QDateTime(QDate(2026, 3, 14), QTime(8, 0), QTimeZone::utc()));
    for (int day : {11, 12, 13})
        ledger.add(day, QDateTime(QDate(2026, 3, day), QTime(10, 0), QTimeZone::utc()));
    const QByteArray refused = "date out of range";
    for (int code : {422, 200, 200, 400, 200, 200})
        server.respondOnce("/api/guard/heartbeat", code == 200 ? Response::json({}) : Response::text(code, refused));
    for (int cycle = 0; cycle < 6; ++cycle)
        finish(reporter.report());
    ASSERT_EQ(server.requests().size(), 6);
    // Refused (422), today alone, each day alone with 03-12 refused (400), then 03-12 no longer offered.
    const QStringList expected[] = {
        {"2026-03-11", "2026-03-12", "2026-03-13"}, {}, {"2026-03-11"}, {"2026-03-12"}, {"2026-03-13"}, {}};
    for (qsizetype i = 0; i < 6; ++i)
        EXPECT_EQ(sentDays(i), expected[i]) << i;
    EXPECT_EQ(ledger.days().at("2026-03-11").reportedTotal, 11);
    EXPECT_EQ(ledger.days().at("2026-03-12").reportedTotal, -1);  // kept, unconfirmed
    EXPECT_EQ(ledger.days().at("2026-03-13").reportedTotal, 13);
    EXPECT_EQ(reporter.refusedDays(), QSet<QString>{"2026-03-12"});
    EXPECT_FALSE(reporter.lastError());
}

}  // namespace
}  // namespace fennimar::test
