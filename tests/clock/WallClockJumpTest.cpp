// The wall clock set back or forward (by the user or NTP) while the sampler counts: a jump is never
// credited as time spent, counting resumes on the next tick under the day and hour the clock now
// shows, and the days it lands on are offered to the backend as any other.
#include "tests/clock/MeasuringRig.h"

#include <gtest/gtest.h>

using namespace fennimar;
using namespace std::chrono_literals;
using fennimar::test::MeasuringRig;

namespace {

struct Jump {
    const char *name;
    Millis by;
    // The day and hour the second half of the counting lands in.
    const char *laterDay;
    int laterHour;
};

class WallClockJumpTest : public ::testing::TestWithParam<Jump> {};

TEST_P(WallClockJumpTest, TheJumpCreditsNothingAndCountingResumesWhereTheClockNowIs)
{
    const Jump jump = GetParam();
    MeasuringRig rig(QDateTime(QDate(2026, 3, 14), QTime(10, 20), QTimeZone::utc()));
    rig.sampler.start();
    rig.run(600);  // 10:20:00 -> 10:30:00, every second on the editor
    ASSERT_EQ(rig.dayTotal("2026-03-14"), 600);

    rig.clock.jumpWallClock(jump.by);
    rig.run(1);
    // A forward jump is a gap; a backward one gives a negative elapsed time. Neither counts.
    EXPECT_EQ(rig.ledgerTotal(), 600) << jump.name;
    rig.run(599);
    EXPECT_EQ(rig.ledgerTotal(), 1199) << jump.name;

    const auto &days = rig.ledger.days();
    ASSERT_EQ(days.count(jump.laterDay), 1u) << jump.name;
    const DayRecord &later = days.at(jump.laterDay);
    const bool sameDay = QString::fromLatin1(jump.laterDay) == QStringLiteral("2026-03-14");
    EXPECT_EQ(later.buckets[static_cast<size_t>(jump.laterHour)], 599) << jump.name;
    EXPECT_EQ(rig.dayTotal("2026-03-14"), sameDay ? 1199 : 600) << jump.name;
    EXPECT_EQ(days.at("2026-03-14").buckets[10], 600) << jump.name;

    // Whatever day the clock shows now is "today"; every other counted day waits for the backend.
    const auto backfill = rig.ledger.unreportedBackfill(rig.clock.now());
    std::vector<QString> pending;
    for (const DayRecord &day : backfill)
        pending.push_back(day.date);
    if (sameDay)
        EXPECT_TRUE(pending.empty()) << jump.name;
    else
        EXPECT_EQ(pending, std::vector<QString>{QStringLiteral("2026-03-14")}) << jump.name;
}

INSTANTIATE_TEST_SUITE_P(HourAndDay, WallClockJumpTest,
                         ::testing::Values(Jump{"forward an hour", 1h, "2026-03-14", 11},
                                           Jump{"back an hour", -1h, "2026-03-14", 9},
                                           Jump{"forward a day", 24h, "2026-03-15", 10},
                                           Jump{"back a day", -24h, "2026-03-13", 10}),
                         [](const auto &param) {
                             std::string name = param.param.name;
                             for (char &c : name)
                                 if (c == ' ')
                                     c = '_';
                             return name;
                         });

// Setting the clock back over an hour already counted credits it again only up to the hour's
// 3600 s, so a day never holds more than the hours it has.
TEST(WallClockSetBack, AnHourCountedTwiceIsCappedAtItsLength)
{
    MeasuringRig rig(QDateTime(QDate(2026, 3, 14), QTime(10, 0), QTimeZone::utc()));
    rig.sampler.start();
    rig.run(3600);  // 10:00:01 ... 11:00:00
    rig.clock.jumpWallClock(-1h);
    rig.run(3600);
    const DayRecord day = rig.ledger.days().at("2026-03-14");
    EXPECT_EQ(day.buckets[10], 3600);  // 3599 + 3599 seconds offered
    EXPECT_EQ(day.buckets[11], 2);     // the tick at 11:00:00, before and after the jump
    EXPECT_EQ(day.total(), 3602);
}

// Small steps such as NTP makes: slewed into the elapsed time, never more than the cap per tick.
TEST(WallClockSetBack, RepeatedSmallStepsBackNeverCreditMoreThanElapsed)
{
    MeasuringRig rig(QDateTime(QDate(2026, 3, 14), QTime(10, 0), QTimeZone::utc()));
    rig.sampler.start();
    for (int i = 0; i < 100; ++i) {
        rig.clock.jumpWallClock(-1500ms);  // the next tick sees -0.5 s
        rig.run(1);
        rig.run(1);  // and this one 1 s
    }
    EXPECT_EQ(rig.ledgerTotal(), 100);
}

}  // namespace
