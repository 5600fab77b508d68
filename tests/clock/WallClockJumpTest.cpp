// The wall clock set back or forward (by the user or NTP) while the sampler counts: a jump is never
// credited as time spent, counting resumes on the next tick under the day and hour the clock now
// shows, and the days it lands on are offered to the backend as any other.
#include "tests/clock/MeasuringRig.h"

#include <gtest/gtest.h>

using namespace fennimar;
using namespace std::chrono_literals;
using fennimar::test::MeasuringRig;

namespace {

TEST(WallClockJump, TheJumpCreditsNothingAndCountingResumesWhereTheClockNowIsUpToAnHoursWorth)
{
    const struct {
        const char *name;
        Millis by;
        const char *laterDay;  // where the counting after the jump lands
        int laterHour;
    } jumps[] = {{"forward an hour", 1h, "2026-03-14", 11}, {"back a day", -24h, "2026-03-13", 10}};
    for (const auto &jump : jumps) {
        SCOPED_TRACE(jump.name);
        MeasuringRig rig(QDateTime(QDate(2026, 3, 14), QTime(10, 20), QTimeZone::utc()));
        rig.run(600);  // 10:20:00 -> 10:30:00, every second on the editor
        rig.clock.jumpWallClock(jump.by);
        rig.run(1);  // a forward jump is a gap, a backward one a negative elapsed time: neither counts
        rig.run(599);
        const bool sameDay = QString::fromLatin1(jump.laterDay) == QStringLiteral("2026-03-14");
        EXPECT_EQ(rig.ledger.days().at(jump.laterDay).buckets[static_cast<size_t>(jump.laterHour)], 599);
        EXPECT_EQ(rig.ledger.days().at("2026-03-14").buckets[10], 600);
        EXPECT_EQ(rig.dayTotal("2026-03-14"), sameDay ? 1199 : 600);
        // Whatever day the clock shows now is "today"; every other counted day waits for the backend.
        const auto backfill = rig.ledger.unreportedBackfill(rig.clock.now());
        EXPECT_EQ(backfill.size(), sameDay ? 0u : 1u);
        EXPECT_TRUE(sameDay || backfill.front().date == QStringLiteral("2026-03-14"));
    }
    // Back over an hour already counted: credited again only up to the hour's 3600 s.
    MeasuringRig hour(QDateTime(QDate(2026, 3, 14), QTime(10, 0), QTimeZone::utc()));
    hour.run(3600);  // 10:00:01 ... 11:00:00
    hour.clock.jumpWallClock(-1h);
    hour.run(3600);
    EXPECT_EQ(hour.ledger.days().at("2026-03-14").buckets[10], 3600);  // 3599 + 3599 seconds offered
    EXPECT_EQ(hour.ledger.days().at("2026-03-14").buckets[11], 2);     // the tick at 11:00:00, twice
}

}  // namespace
