// A report the backend refuses as malformed (400, 422) must not block every later report: today
// goes alone, then each unconfirmed day alone, and a day refused alone is no longer offered.
#include "backend/UsageReporter.h"
#include "tests/backend/BackendTestSupport.h"

#include <QJsonArray>
#include <QTemporaryDir>

namespace fennimar::test {
namespace {

class UsageRecoveryTest : public LoopbackClientTest {
protected:
    QTemporaryDir dir;
    DayLedger ledger{dir.filePath("ledger.json"), clock};
    UsageReporter reporter{client, ledger, PairedIdentity{"dev1", "child1", "Robin", "tok", clock.now()}, clock,
                           system};

    QStringList sentDays(qsizetype request) const
    {
        QStringList dates;
        for (const auto &day : server.requests().at(request).json()["daily_usage_backfill"].toArray())
            dates << day.toObject()["date"].toString();
        return dates;
    }
};

TEST_F(UsageRecoveryTest, ARefusedReportIsNarrowedToTheDayAtFault)
{
    // Today is 2026-03-14; three unconfirmed days, of which the backend refuses 03-12.
    ledger.add(600, QDateTime(QDate(2026, 3, 14), QTime(8, 0), Qt::UTC));
    for (int day : {11, 12, 13})
        ledger.add(day, QDateTime(QDate(2026, 3, day), QTime(10, 0), Qt::UTC));
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
