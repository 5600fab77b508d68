#include "measure/DayLedger.h"

#include "core/DurableFile.h"
#include "core/VirtualClock.h"
#include "tests/support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

using namespace fennimar;

namespace {

const QTimeZone berlin{"Europe/Berlin"};

QDateTime local(const char *text)
{
    const QDateTime t = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    return QDateTime(t.date(), t.time(), berlin);
}

QStringList keys(const DayLedger &ledger)
{
    QStringList k;
    for (const auto &[key, record] : ledger.days())
        k << key;
    return k;
}

class DayLedgerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("ledger.json"));
    VirtualClock clock{QDateTime(QDate(2026, 3, 14), QTime(9, 0), berlin), berlin};
};

// A zone 5:45 ahead of UTC: the offset in whole minutes, the key and the hour of the local date.
TEST(LedgerZones, KeyHourAndOffsetFollowTheClocksZone)
{
    QTemporaryDir dir;
    VirtualClock clock(QDateTime::currentDateTimeUtc(), QTimeZone("Asia/Kathmandu"));
    DayLedger ledger(dir.filePath(QStringLiteral("ledger.json")), clock);
    ledger.add(7, QDateTime(QDate(2026, 3, 14), QTime(18, 20), QTimeZone::utc()));
    ASSERT_EQ(keys(ledger), QStringList{QStringLiteral("2026-03-15")});
    EXPECT_EQ(ledger.days().begin()->second.buckets[0], 7);
    EXPECT_EQ(ledger.days().begin()->second.tzOffsetMinutes, 345);
}

TEST_F(DayLedgerTest, BackfillIsTheSevenLatestUnconfirmedPastDaysOldestFirstAndPruneKeepsThirtyDays)
{
    DayLedger ledger(path, clock);
    const QDateTime now = clock.now();
    for (int back = 1; back <= 10; ++back)
        ledger.add(back, now.addDays(-back));
    ledger.add(5, now);  // today: never in the backfill
    auto &confirmed = ledger.days()[QStringLiteral("2026-03-12")];
    confirmed.reportedTotal = confirmed.total();  // confirmed: left out
    auto &changed = ledger.days()[QStringLiteral("2026-03-11")];
    changed.reportedTotal = changed.total() - 1;  // changed since the report: offered again
    ledger.add(1, local("2026-03-20T10:00:00"));  // after today (the clock was set back): offered
    QStringList backfill;
    for (const auto &r : ledger.unreportedBackfill(now))
        backfill << r.date;
    EXPECT_EQ(backfill, (QStringList{"2026-03-07", "2026-03-08", "2026-03-09", "2026-03-10", "2026-03-11", "2026-03-13",
                                     "2026-03-20"}));
    ledger.add(1, local("2026-02-12T12:00:00"));
    ledger.add(1, local("2026-02-11T23:59:59"));
    ledger.prune(30, local("2026-03-14T08:00:00"));
    EXPECT_EQ(keys(ledger).first(), QStringLiteral("2026-02-12"));
    EXPECT_EQ(keys(ledger).size(), 13);
}

// Each local hour's bucket holds at most an hour; the file holds the days in a compact layout.
TEST_F(DayLedgerTest, AddCapsEachHourAndASavedLedgerRoundTrips)
{
    {
        DayLedger ledger(path, clock);
        ledger.add(0, local("2026-03-14T10:00:00"));
        ledger.add(-5, local("2026-03-14T10:00:00"));
        EXPECT_TRUE(ledger.days().empty());
        ledger.add(3599, local("2026-03-14T10:15:00"));
        ledger.add(2, local("2026-03-14T10:59:59"));
        ledger.add(5, local("2026-03-13T20:00:00"));
        ledger.days()[QStringLiteral("2026-03-13")].reportedTotal = 5;
        ASSERT_TRUE(ledger.save());
        EXPECT_FALSE(ledger.hasUnsavedChanges());
    }
    const QByteArray saved = readSmallFile(path, 4096).bytes;
    EXPECT_TRUE(
        saved.startsWith(R"({"2026-03-13":{"date":"2026-03-13","buckets":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,)"
                         R"(5,0,0,0],"tzOffsetMinutes":60,"reportedTotal":5},)"));
    EXPECT_EQ(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
    DayLedger reloaded(path, clock);
    EXPECT_EQ(keys(reloaded), (QStringList{"2026-03-13", "2026-03-14"}));
    EXPECT_EQ(reloaded.today(clock.now()).buckets[10], 3600);
    EXPECT_EQ(reloaded.today(clock.now()).reportedTotal, -1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"ledger-known.json", "ledger.json"}))
        << "no temporary file left";
}

// A file refused whole: the ledger starts empty and the file is kept aside, untouched by the next save.
TEST_F(DayLedgerTest, AnUnreadableFileIsKeptAside)
{
    const QByteArray buckets = R"("buckets":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,)";
    const auto day = [&](const char *date, const char *last, const char *rest) {
        return QByteArray(R"({"2026-03-14":{"date":")") + date + "\"," + buckets + last + "]," + rest + "}}";
    };
    const std::pair<const char *, QByteArray> cases[] = {
        {"truncated", R"({"2026-03-14":{"date":"2026-03-14","buck)"},
        {"bucket over an hour", day("2026-03-14", "3601", R"("tzOffsetMinutes":60,"reportedTotal":-1)")},
        {"date differs from key", day("2026-03-15", "1", R"("tzOffsetMinutes":60,"reportedTotal":-1)")},
        {"huge", QByteArray(5 * 1024 * 1024, ' ')},
    };
    for (const auto &[name, bytes] : cases) {
        SCOPED_TRACE(name);
        for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(f));
        ASSERT_TRUE(writeFileAtomically(path, bytes));
        DayLedger ledger(path, clock);
        EXPECT_TRUE(ledger.days().empty());
        const QStringList kept = QDir(dir.path()).entryList({QStringLiteral("ledger-unreadable-*.json")});
        ASSERT_EQ(kept.size(), 1);
        ledger.add(1, clock.now());
        ASSERT_TRUE(ledger.save());
        EXPECT_EQ(readSmallFile(dir.filePath(kept.first()), 8 << 20).bytes, bytes);
    }
}

// Days no report could carry are set aside on load, and old days pruned.
TEST_F(DayLedgerTest, ImpossibleDaysAreSetAsideAndOldOnesPrunedOnLoad)
{
    const auto stored = [](const char *date, int offset) {
        return QByteArray("\"") + date + R"(":{"reportedTotal":-1,"tzOffsetMinutes":)" + QByteArray::number(offset) +
               R"(,"buckets":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],"date":")" + date + "\"}";
    };
    // Today is 2026-03-14.
    writeFileAtomically(path, "{" + stored("2026-02-11", 0) + "," + stored("2026-02-12", 0) + "," +
                                  stored("2026-03-10", 1081) + "," + stored("2026-03-11", -1080) + "," +
                                  stored("2026-03-14", 0) + "," + stored("2026-03-15", 840) + "," +
                                  stored("2026-03-16", 0) + "}");
    test::LogCapture log;
    DayLedger ledger(path, clock);
    // ±1080 min is the widest offset; tomorrow may already have begun in a zone ahead.
    EXPECT_EQ(keys(ledger), (QStringList{"2026-02-12", "2026-03-11", "2026-03-14", "2026-03-15"}));
    EXPECT_TRUE(log.lines().contains("WARN ] ledger day set aside · 2026-03-10 · offset 1081 min is beyond 18 hours"));
    EXPECT_TRUE(log.lines().contains("WARN ] ledger day set aside · 2026-03-16 · the date is after tomorrow"));
    EXPECT_EQ(QDir(dir.path()).entryList({"ledger-unreadable-*"}).size(), 1);
    EXPECT_EQ(DayLedger(path, clock).days().size(), 4u);
}

// Deleting or lowering the ledger while the agent is stopped is found at the next start, once; pruning is not.
TEST_F(DayLedgerTest, ALedgerThatShrankWithoutAPruneIsFound)
{
    const QString lost = QStringLiteral("the ledger lost counted time while the agent was not running: ");
    const struct {
        const char *name;
        std::function<void()> edit;
        int daysLater;
        QString shrunk;
    } cases[] = {
        {"deleted", [&] { QFile::remove(path); }, 0, lost + "2026-03-13 (7200 s) is gone, 2026-03-14 (60 s) is gone"},
        {"a day lowered",
         [&] { writeFileAtomically(path, readSmallFile(path, 1 << 20).bytes.replace(",3600,", ",0,")); }, 0,
         lost + "2026-03-13 fell from 7200 s to 3600 s"},
        {"pruned a month later", [&] { QFile::remove(path); }, 31, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(f));
        {
            DayLedger ledger(path, clock);
            ledger.add(3600, local("2026-03-13T10:00:00"));
            ledger.add(3600, local("2026-03-13T11:00:00"));
            ledger.add(60, clock.now());
            ASSERT_TRUE(ledger.save());
        }
        c.edit();
        clock.advance(std::chrono::hours(24 * c.daysLater));
        DayLedger restarted(path, clock);
        EXPECT_EQ(restarted.shrunkSinceSaved(), c.shrunk);
        ASSERT_TRUE(restarted.save());
        EXPECT_EQ(DayLedger(path, clock).shrunkSinceSaved(), QString());
    }
}

}  // namespace
