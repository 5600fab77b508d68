// Days and hours across both daylight-saving changes of a European and an American zone: a day of
// 23 or 25 hours lands under its own local date, the skipped hour stays empty, the repeated hour is
// credited up to its 3600 s, and "today", the backfill and pruning follow local dates, not UTC ones.
#include "platform/RealClock.h"
#include "platform/VirtualClock.h"
#include "tests/clock/MeasuringRig.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace fennimar;
using fennimar::test::MeasuringRig;

namespace {

struct ZoneDay {
    const char *zone;
    QDate date;
    int skippedHour;       // -1: none
    int repeatedHour;      // -1: none
    qint64 offsetMinutes;  // east of UTC at the day's first second
};

class DaylightSavingTest : public ::testing::TestWithParam<ZoneDay> {};

TEST_P(DaylightSavingTest, ADayOfCountingLandsUnderItsLocalDateAndHours)
{
    const ZoneDay c = GetParam();
    const QTimeZone zone(c.zone);
    ASSERT_TRUE(zone.isValid()) << c.zone << " is missing from the time-zone database";
    const QDateTime midnight(c.date, QTime(0, 0), zone);
    const QDateTime nextMidnight(c.date.addDays(1), QTime(0, 0), zone);
    const qint64 length = midnight.secsTo(nextMidnight);
    ASSERT_EQ(length, c.skippedHour >= 0 ? 23 * 3600 : 25 * 3600);

    MeasuringRig rig(midnight.toUTC(), zone);
    rig.sampler.start();
    rig.run(length - 1);  // every second of the day but its first, which belongs to the day before

    const QString key = c.date.toString(Qt::ISODate);
    ASSERT_EQ(rig.ledger.days().size(), 1u) << c.zone;
    const DayRecord &day = rig.ledger.days().at(key);
    EXPECT_EQ(day.tzOffsetMinutes, c.offsetMinutes) << c.zone;
    for (int h = 0; h < 24; ++h) {
        const qint64 expected = h == 0 ? 3599 : h == c.skippedHour ? 0 : 3600;
        EXPECT_EQ(day.buckets[static_cast<size_t>(h)], expected) << c.zone << " hour " << h;
    }

    // The next local midnight starts the next day, whatever the UTC date is.
    rig.run(1);
    const QString nextKey = c.date.addDays(1).toString(Qt::ISODate);
    EXPECT_EQ(rig.dayTotal(nextKey), 1) << c.zone;
    EXPECT_EQ(rig.ledger.today(rig.clock.now()).date, nextKey) << c.zone;
    const auto backfill = rig.ledger.unreportedBackfill(rig.clock.now());
    ASSERT_EQ(backfill.size(), 1u) << c.zone;
    EXPECT_EQ(backfill.front().date, key) << c.zone;

    rig.ledger.prune(1, rig.clock.now());
    EXPECT_EQ(rig.ledger.days().count(key), 1u) << c.zone << ": yesterday is within one day";
    rig.ledger.prune(0, rig.clock.now());
    EXPECT_EQ(rig.ledger.days().count(key), 0u) << c.zone;
    EXPECT_EQ(rig.dayTotal(nextKey), 1) << c.zone;
}

INSTANTIATE_TEST_SUITE_P(BothChanges, DaylightSavingTest,
                         ::testing::Values(ZoneDay{"Europe/Berlin", QDate(2026, 3, 29), 2, -1, 60},
                                           ZoneDay{"Europe/Berlin", QDate(2026, 10, 25), -1, 2, 120},
                                           ZoneDay{"America/New_York", QDate(2026, 3, 8), 2, -1, -300},
                                           ZoneDay{"America/New_York", QDate(2026, 11, 1), -1, 1, -240}),
                         [](const auto &param) {
                             return std::string(param.param.zone[0] == 'E' ? "Berlin" : "NewYork") +
                                    (param.param.skippedHour >= 0 ? "Spring" : "Autumn");
                         });

// The production clock takes its zone from the system (TZ here): the ledger's keys and hours follow
// it through a save and a reload. The ledger reads the zone from the real clock and "now" from a
// virtual one set just after the autumn change, since a load drops days older than 30 days.
TEST(DaylightSavingSystemZone, TheLedgerFollowsTheSystemZoneThroughSaveAndLoad)
{
    if (!QTimeZone("Europe/Berlin").isValid())
        GTEST_SKIP() << "Europe/Berlin is missing from the time-zone database";
    fennimar::test::ScopedEnv tz("TZ", "Europe/Berlin");
    const RealClock clock;
    ASSERT_EQ(clock.timeZone().id(), QByteArray("Europe/Berlin"));

    const VirtualClock justAfter(QDateTime(QDate(2026, 10, 26), QTime(12, 0), QTimeZone::utc()), clock.timeZone());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ledger.json"));
    DayLedger ledger(path, justAfter);
    const auto utc = [](int month, int day, int hour, int minute) {
        return QDateTime(QDate(2026, month, day), QTime(hour, minute), QTimeZone::utc());
    };
    ledger.add(5, utc(3, 28, 23, 30));   // 00:30 CET on the 29th
    ledger.add(7, utc(3, 29, 1, 0));     // 03:00 CEST: the clocks skipped 02:00
    ledger.add(11, utc(10, 25, 0, 30));  // 02:30 CEST
    ledger.add(13, utc(10, 25, 1, 30));  // 02:30 CET, the same local hour again
    ASSERT_TRUE(ledger.save().ok());

    const DayLedger reloaded(path, justAfter);
    const DayRecord &spring = ledger.days().at("2026-03-29");
    EXPECT_EQ(spring.buckets[0], 5);
    EXPECT_EQ(spring.buckets[2], 0);
    EXPECT_EQ(spring.buckets[3], 7);
    EXPECT_EQ(spring.tzOffsetMinutes, 60);
    ASSERT_EQ(reloaded.days().count("2026-10-25"), 1u);
    EXPECT_EQ(reloaded.days().at("2026-10-25"), ledger.days().at("2026-10-25"));
    const DayRecord &autumn = reloaded.days().at("2026-10-25");
    EXPECT_EQ(autumn.buckets[2], 24);
    EXPECT_EQ(autumn.total(), 24);
    EXPECT_EQ(ledger.days().count("2026-03-28"), 0u);
}

}  // namespace
