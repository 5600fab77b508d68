#include "measure/DayLedger.h"

#include "platform/VirtualClock.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace fennimar;
using namespace std::chrono_literals;

namespace {

QDateTime local(const char *text, const QTimeZone &zone)
{
    const QString t = QString::fromLatin1(text);
    return QDateTime(QDate::fromString(t.left(10), Qt::ISODate), QTime::fromString(t.mid(11), Qt::ISODate), zone);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class DayLedgerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("ledger.json"));
    QTimeZone berlin{"Europe/Berlin"};
    VirtualClock clock{QDateTime(QDate(2026, 3, 14), QTime(9, 0), QTimeZone("Europe/Berlin")),
                       QTimeZone("Europe/Berlin")};

    QStringList filesBesideLedger() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
};

TEST_F(DayLedgerTest, AddCreditsTheLocalHourAndCapsEachBucketAtOneHour)
{
    DayLedger ledger(path, clock);
    ledger.add(0, local("2026-03-14T10:00:00", berlin));
    ledger.add(-5, local("2026-03-14T10:00:00", berlin));
    EXPECT_TRUE(ledger.days().empty());
    EXPECT_FALSE(ledger.hasUnsavedChanges());

    ledger.add(3599, local("2026-03-14T10:15:00", berlin));
    ledger.add(2, local("2026-03-14T10:59:59", berlin));
    ledger.add(2, local("2026-03-14T10:30:00", berlin));
    ledger.add(1, local("2026-03-14T23:59:59", berlin));
    ledger.add(1, local("2026-03-15T00:00:00", berlin));

    const DayRecord day = ledger.days().at(QStringLiteral("2026-03-14"));
    EXPECT_EQ(day.buckets[10], 3600);
    EXPECT_EQ(day.buckets[23], 1);
    EXPECT_EQ(day.tzOffsetMinutes, 60);
    EXPECT_EQ(day.reportedTotal, -1);
    EXPECT_EQ(ledger.days().at(QStringLiteral("2026-03-15")).buckets[0], 1);
    EXPECT_TRUE(ledger.hasUnsavedChanges());
}

TEST_F(DayLedgerTest, TodayNeverInsertsAFreshRecord)
{
    DayLedger ledger(path, clock);
    const DayRecord fresh = ledger.today(clock.now());
    EXPECT_EQ(fresh.date, QStringLiteral("2026-03-14"));
    EXPECT_EQ(fresh.total(), 0);
    EXPECT_EQ(fresh.reportedTotal, -1);
    EXPECT_TRUE(ledger.days().empty());
}

// Offsets in whole minutes truncated toward zero, and keys and hours across both daylight-saving
// changes, taken from the clock's zone.
struct ZoneCase {
    const char *zone;
    const char *instantUtc;
    const char *key;
    int hour;
    qint64 offset;
};

class LedgerZones : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(LedgerZones, KeyHourAndOffsetFollowTheZone)
{
    const ZoneCase c = GetParam();
    const QTimeZone zone{QByteArray(c.zone)};
    ASSERT_TRUE(zone.isValid()) << c.zone;
    QTemporaryDir dir;
    VirtualClock clock(QDateTime::currentDateTimeUtc(), zone);
    DayLedger ledger(dir.filePath(QStringLiteral("ledger.json")), clock);
    const QDateTime at = QDateTime::fromString(QString::fromLatin1(c.instantUtc), Qt::ISODate);
    ASSERT_TRUE(at.isValid());
    ledger.add(7, at);
    ASSERT_EQ(ledger.days().size(), 1u);
    const DayRecord &day = ledger.days().begin()->second;
    EXPECT_EQ(day.date, QString::fromLatin1(c.key));
    EXPECT_EQ(day.buckets[static_cast<size_t>(c.hour)], 7);
    EXPECT_EQ(day.tzOffsetMinutes, c.offset);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, LedgerZones,
    ::testing::Values(ZoneCase{"Asia/Kathmandu", "2026-03-14T18:20:00Z", "2026-03-15", 0, 345},
                      ZoneCase{"America/St_Johns", "2026-01-10T02:00:00Z", "2026-01-09", 22, -210},
                      // Europe: spring forward 2026-03-29 01:00 UTC, fall back 2026-10-25 01:00 UTC.
                      ZoneCase{"Europe/Berlin", "2026-03-29T00:59:59Z", "2026-03-29", 1, 60},
                      ZoneCase{"Europe/Berlin", "2026-03-29T01:00:00Z", "2026-03-29", 3, 120},
                      ZoneCase{"Europe/Berlin", "2026-10-25T00:30:00Z", "2026-10-25", 2, 120},
                      ZoneCase{"Europe/Berlin", "2026-10-25T01:30:00Z", "2026-10-25", 2, 60},
                      // America: spring forward 2026-03-08 07:00 UTC, fall back 2026-11-01 06:00 UTC.
                      ZoneCase{"America/Chicago", "2026-03-08T07:59:00Z", "2026-03-08", 1, -360},
                      ZoneCase{"America/Chicago", "2026-03-08T08:00:00Z", "2026-03-08", 3, -300},
                      ZoneCase{"America/Chicago", "2026-11-01T06:30:00Z", "2026-11-01", 1, -300},
                      ZoneCase{"America/Chicago", "2026-11-01T07:30:00Z", "2026-11-01", 1, -360}));

TEST_F(DayLedgerTest, BackfillIsTheSevenLatestUnconfirmedPastDaysOldestFirst)
{
    DayLedger ledger(path, clock);
    const QDateTime now = clock.now();
    for (int back = 1; back <= 10; ++back)
        ledger.add(back, now.addDays(-back));
    ledger.add(5, now);  // today: never in the backfill
    auto &confirmed = ledger.days()[ledger.dateKey(now.addDays(-2))];
    confirmed.reportedTotal = confirmed.total();  // confirmed: left out
    auto &changed = ledger.days()[ledger.dateKey(now.addDays(-3))];
    changed.reportedTotal = changed.total() - 1;          // changed since the report: offered again
    ledger.add(1, local("2026-03-20T10:00:00", berlin));  // after today (clock set back): offered

    const auto backfill = ledger.unreportedBackfill(now);
    QStringList keys;
    for (const auto &r : backfill)
        keys << r.date;
    EXPECT_EQ(keys,
              (QStringList{QStringLiteral("2026-03-07"), QStringLiteral("2026-03-08"), QStringLiteral("2026-03-09"),
                           QStringLiteral("2026-03-10"), QStringLiteral("2026-03-11"), QStringLiteral("2026-03-13"),
                           QStringLiteral("2026-03-20")}));
}

TEST_F(DayLedgerTest, PruneKeepsThirtyCalendarDaysBack)
{
    clock.setTimeZone(berlin);
    DayLedger ledger(path, clock);
    ledger.add(1, local("2026-02-28T12:00:00", berlin));
    ledger.add(1, local("2026-03-01T00:00:00", berlin));
    ledger.add(1, local("2026-03-31T12:00:00", berlin));
    ledger.prune(30, local("2026-03-31T08:00:00", berlin));
    QStringList keys;
    for (const auto &[key, record] : ledger.days())
        keys << key;
    EXPECT_EQ(keys, (QStringList{QStringLiteral("2026-03-01"), QStringLiteral("2026-03-31")}));
}

TEST_F(DayLedgerTest, SavedLedgerRoundTripsInTheCompactFileLayout)
{
    {
        DayLedger ledger(path, clock);
        ledger.add(1830, local("2026-03-14T09:30:00", berlin));
        ledger.add(5, local("2026-03-13T20:00:00", berlin));
        ledger.days()[QStringLiteral("2026-03-13")].reportedTotal = 5;
        ASSERT_TRUE(ledger.save());
        EXPECT_FALSE(ledger.hasUnsavedChanges());
    }
    const QByteArray bytes = readFile(path);
    EXPECT_TRUE(bytes.startsWith(
        R"({"2026-03-13":{"date":"2026-03-13","buckets":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,5,0,0,0],)"))
        << "members in the order date, buckets, tzOffsetMinutes, reportedTotal";
    EXPECT_FALSE(bytes.contains(' '));
    EXPECT_EQ(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());

    DayLedger reloaded(path, clock);
    EXPECT_EQ(reloaded.days().size(), 2u);
    EXPECT_EQ(reloaded.today(clock.now()).total(), 1830);
    EXPECT_EQ(reloaded.days().at(QStringLiteral("2026-03-13")).reportedTotal, 5);
    EXPECT_EQ(filesBesideLedger(), QStringList{QStringLiteral("ledger.json")}) << "no temporary file left";
}

TEST(DayRecordJson, MembersAreWrittenInTheirDeclaredOrder)
{
    DayRecord r;
    r.date = QStringLiteral("2026-03-14");
    r.buckets[9] = 12;
    r.tzOffsetMinutes = -210;
    // QJsonObject sorts keys, so check the encoder keeps all four and nothing else.
    EXPECT_EQ(r.toJson().keys(), (QStringList{QStringLiteral("buckets"), QStringLiteral("date"),
                                              QStringLiteral("reportedTotal"), QStringLiteral("tzOffsetMinutes")}));
    EXPECT_EQ(DayRecord::fromJson(r.toJson()).value(), r);
}

// Files that must be refused whole: the ledger starts empty, logs the ERROR line, and the file is
// kept aside rather than destroyed by the next save.
struct BadFile {
    const char *name;
    QByteArray bytes;
};

class UnreadableLedger : public ::testing::TestWithParam<BadFile> {};

QByteArray day(const QByteArray &members)
{
    return R"({"2026-03-14":{)" + members + "}}";
}
const QByteArray buckets24 = R"("buckets":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1])";

TEST_P(UnreadableLedger, StartsEmptyAndKeepsTheFileAside)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ledger.json"));
    writeFile(path, GetParam().bytes);
    VirtualClock clock;
    DayLedger ledger(path, clock);
    EXPECT_TRUE(ledger.days().empty());
    EXPECT_FALSE(QFile::exists(path));
    const QStringList kept = QDir(dir.path()).entryList({QStringLiteral("ledger-unreadable-*.json")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readFile(dir.filePath(kept.first())), GetParam().bytes);

    ledger.add(1, clock.now());
    ASSERT_TRUE(ledger.save());
    EXPECT_EQ(readFile(dir.filePath(kept.first())), GetParam().bytes) << "the save must not touch the kept file";
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnreadableLedger,
    ::testing::Values(
        BadFile{"empty", ""}, BadFile{"truncated", R"({"2026-03-14":{"date":"2026-03-14","buck)"},
        BadFile{"notJson", "hello"}, BadFile{"array", "[]"},
        BadFile{"missingReportedTotal", day(R"("date":"2026-03-14",)" + buckets24 + R"(,"tzOffsetMinutes":60)")},
        BadFile{"stringOffset",
                day(R"("date":"2026-03-14",)" + buckets24 + R"(,"tzOffsetMinutes":"60","reportedTotal":-1)")},
        BadFile{"fractionalTotal",
                day(R"("date":"2026-03-14",)" + buckets24 + R"(,"tzOffsetMinutes":60,"reportedTotal":1.5)")},
        BadFile{
            "23Buckets",
            day(R"("date":"2026-03-14","buckets":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],"tzOffsetMinutes":60,"reportedTotal":-1)")},
        BadFile{
            "bucketOverAnHour",
            day(R"("date":"2026-03-14","buckets":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,3601],"tzOffsetMinutes":60,"reportedTotal":-1)")},
        BadFile{"dateDiffersFromKey",
                day(R"("date":"2026-03-15",)" + buckets24 + R"(,"tzOffsetMinutes":60,"reportedTotal":-1)")},
        BadFile{"huge", QByteArray(5 * 1024 * 1024, ' ')}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(LedgerLoad, UnknownMembersAreIgnoredAndAnEmptyObjectIsAnEmptyLedger)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ledger.json"));
    VirtualClock clock;
    writeFile(path, "{}");
    EXPECT_TRUE(DayLedger(path, clock).days().empty());
    EXPECT_TRUE(QFile::exists(path));

    writeFile(path,
              day(R"("note":"x","date":"2026-03-14",)" + buckets24 + R"(,"tzOffsetMinutes":60,"reportedTotal":-1)"));
    DayLedger ledger(path, clock);
    EXPECT_EQ(ledger.days().at(QStringLiteral("2026-03-14")).total(), 1);
}

TEST(LedgerLoad, AFileWithoutReadPermissionIsKeptAside)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads any file; permission cannot make the ledger unreadable";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ledger.json"));
    writeFile(path, "{}");
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    VirtualClock clock;
    DayLedger ledger(path, clock);
    EXPECT_FALSE(QFile::exists(path));
}

TEST(LedgerSave, AnUnwritableDirectoryFailsTheSaveAndKeepsTheDaysInMemory)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/ledger.json"));
    VirtualClock clock;
    DayLedger ledger(path, clock);
    ledger.add(42, clock.now());
    const Status saved = ledger.save();
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.error().isEmpty());
    EXPECT_EQ(ledger.today(clock.now()).total(), 42);
    EXPECT_TRUE(ledger.hasUnsavedChanges());
}

}  // namespace
