// Days and hours across both daylight-saving changes of a European and an American zone: a day of
// 23 or 25 hours lands under its own local date, the skipped hour stays empty, the repeated hour is
// credited up to its 3600 s, and "today", the backfill and pruning follow local dates, not UTC ones.
#include "platform/RealClock.h"
#include "tests/clock/MeasuringRig.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace fennimar;
using fennimar::test::MeasuringRig;

namespace {

TEST(DaylightSaving, ADayOfCountingLandsUnderItsLocalDateAndHours)
{
    const struct {
        const char *zone;
        QDate date;
        int skippedHour;       // -1: the day has 25 hours
        qint64 offsetMinutes;  // east of UTC at the day's first second
    } days[] = {{"Europe/Berlin", QDate(2026, 3, 29), 2, 60},
                {"Europe/Berlin", QDate(2026, 10, 25), -1, 120},
                {"America/New_York", QDate(2026, 3, 8), 2, -300},
                {"America/New_York", QDate(2026, 11, 1), -1, -240}};
    for (const auto &c : days) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.date.toString(Qt::ISODate).toStdString());
        const QTimeZone zone(c.zone);
        ASSERT_TRUE(zone.isValid()) << "missing from the time-zone database";
        const QDateTime midnight(c.date, QTime(0, 0), zone);
        const qint64 length = midnight.secsTo(QDateTime(c.date.addDays(1), QTime(0, 0), zone));
        ASSERT_EQ(length, c.skippedHour >= 0 ? 23 * 3600 : 25 * 3600);

        MeasuringRig rig(midnight.toUTC(), zone);
        rig.run(length - 1);  // every second of the day but its first, which belongs to the day before
        const QString key = c.date.toString(Qt::ISODate);
        ASSERT_EQ(rig.ledger.days().size(), 1u);
        const DayRecord &day = rig.ledger.days().at(key);
        EXPECT_EQ(day.tzOffsetMinutes, c.offsetMinutes);
        for (int h = 0; h < 24; ++h)
            EXPECT_EQ(day.buckets[static_cast<size_t>(h)], h == 0 ? 3599 : h == c.skippedHour ? 0 : 3600) << h;

        // The next local midnight starts the next day, whatever the UTC date is.
        rig.run(1);
        const QString nextKey = c.date.addDays(1).toString(Qt::ISODate);
        EXPECT_EQ(rig.dayTotal(nextKey), 1);
        EXPECT_EQ(rig.ledger.today(rig.clock.now()).date, nextKey);
        const auto backfill = rig.ledger.unreportedBackfill(rig.clock.now());
        ASSERT_EQ(backfill.size(), 1u);
        EXPECT_EQ(backfill.front().date, key);
        rig.ledger.prune(1, rig.clock.now());
        EXPECT_EQ(rig.ledger.days().count(key), 1u) << "yesterday is within one day";
        rig.ledger.prune(0, rig.clock.now());
        EXPECT_EQ(rig.ledger.days().count(key), 0u);
        EXPECT_EQ(rig.dayTotal(nextKey), 1);
    }
}

// The production clock takes its zone from the system (TZ here): the ledger's keys and hours follow
// it through a save and a reload. "Now" is a virtual clock's, just after the autumn change, since a
// load drops days older than 30 days.
TEST(DaylightSaving, TheLedgerFollowsTheSystemZoneThroughSaveAndLoad)
{
    fennimar::test::ScopedEnv tz("TZ", "Europe/Berlin");
    const RealClock clock;
    ASSERT_EQ(clock.timeZone().id(), QByteArray("Europe/Berlin"));
    const VirtualClock justAfter(QDateTime(QDate(2026, 10, 26), QTime(12, 0), QTimeZone::utc()), clock.timeZone());
    QTemporaryDir dir;
    DayLedger ledger(dir.filePath(QStringLiteral("ledger.json")), justAfter);
    const auto utc = [](int month, int day, int hour) {
        return QDateTime(QDate(2026, month, day), QTime(hour, 30), QTimeZone::utc());
    };
    ledger.add(5, utc(3, 28, 23));   // 00:30 CET on the 29th
    ledger.add(7, utc(3, 29, 1));    // 03:30 CEST: the clocks skipped 02:00
    ledger.add(11, utc(10, 25, 0));  // 02:30 CEST
    ledger.add(13, utc(10, 25, 1));  // 02:30 CET, the same local hour again
    ASSERT_TRUE(ledger.save().ok());
    const DayLedger reloaded(dir.filePath(QStringLiteral("ledger.json")), justAfter);
    const DayRecord &spring = ledger.days().at("2026-03-29");
    EXPECT_EQ(std::vector<qint64>(spring.buckets.begin(), spring.buckets.begin() + 4),
              (std::vector<qint64>{5, 0, 0, 7}));
    EXPECT_EQ(spring.tzOffsetMinutes, 60);
    ASSERT_EQ(reloaded.days().count("2026-10-25"), 1u);
    EXPECT_EQ(reloaded.days().at("2026-10-25").buckets[2], 24);
    EXPECT_EQ(reloaded.days().at("2026-10-25").total(), 24);
}

}  // namespace
