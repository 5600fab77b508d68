// Days that no report could carry are set aside when the ledger loads, old days are pruned on load,
// and records are written with their members in the order date, buckets, tzOffsetMinutes,
// reportedTotal.
#include "measure/DayLedger.h"

#include "platform/VirtualClock.h"
#include "tests/support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fennimar;
using fennimar::test::LogCapture;

namespace {

const QByteArray kZeros = "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]";

// A stored day with its members in an order of the writer's choosing.
QByteArray storedDay(const char *date, qint64 offset)
{
    return QByteArray("\"") + date + "\":{\"reportedTotal\":-1,\"tzOffsetMinutes\":" + QByteArray::number(offset) +
           ",\"buckets\":" + kZeros + ",\"date\":\"" + date + "\"}";
}

TEST(LedgerRepair, ImpossibleDaysAreSetAsideAndOldOnesPrunedOnLoad)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ledger.json"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Today is 2026-03-14 (UTC).
    file.write("{" + storedDay("2026-02-11", 0) + "," + storedDay("2026-02-12", 0) + "," +
               storedDay("2026-03-10", 1081) + "," + storedDay("2026-03-11", -1080) + "," + storedDay("2026-03-14", 0) +
               "," + storedDay("2026-03-15", 840) + "," + storedDay("2026-03-16", 0) + "}");
    file.close();
    VirtualClock clock;
    LogCapture log;
    DayLedger ledger(path, clock);

    QStringList kept;
    for (const auto &[key, record] : ledger.days())
        kept << key;
    // 30 days back from 14 March is 12 February; ±1080 min is the widest offset; tomorrow may
    // already have begun in a zone ahead.
    EXPECT_EQ(kept, (QStringList{"2026-02-12", "2026-03-11", "2026-03-14", "2026-03-15"}));
    const QStringList lines = log.lines();
    EXPECT_TRUE(lines.contains("WARN ] ledger day set aside · 2026-03-10 · offset 1081 min is beyond 18 hours"))
        << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains("WARN ] ledger day set aside · 2026-03-16 · the date is after tomorrow"));
    // The file as it was is kept aside, and the ledger's file holds what was kept.
    EXPECT_EQ(QDir(dir.path()).entryList({"ledger-unreadable-*"}).size(), 1);
    DayLedger reloaded(path, clock);
    EXPECT_EQ(reloaded.days().size(), 4u);
}

TEST(LedgerRepair, RecordsAreWrittenWithTheirMembersInOrder)
{
    DayRecord r;
    r.date = QStringLiteral("2026-03-14");
    r.buckets[9] = 1200;
    r.tzOffsetMinutes = -210;
    EXPECT_EQ(DayLedger::encode({{r.date, r}}),
              QByteArray(R"({"2026-03-14":{"date":"2026-03-14","buckets":[0,0,0,0,0,0,0,0,0,1200,0,0,0,0,0,0,0,0,0,)"
                         R"(0,0,0,0,0],"tzOffsetMinutes":-210,"reportedTotal":-1}})"));
    EXPECT_EQ(DayLedger::encode({}), QByteArray("{}"));
}

}  // namespace
