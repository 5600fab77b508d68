// Days and hours across a spring change in Europe and an autumn change in America: a day of
// 23 or 25 hours lands under its own local date, the skipped hour stays empty, the repeated hour is
// credited up to its 3600 s, and "today" and the backfill follow local dates, not UTC ones.
#include "tests/clock/MeasuringRig.h"

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
    } days[] = {{"Europe/Berlin", QDate(2026, 3, 29), 2, 60}, {"America/New_York", QDate(2026, 11, 1), -1, -240}};
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
    }
}

}  // namespace
