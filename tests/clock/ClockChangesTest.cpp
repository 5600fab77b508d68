#include "measure/UsageReporter.h"
#include "measure/ActivitySampler.h"
#include "measure/DayLedger.h"
#include "measure/MonitoredApps.h"
#include "platform/PlatformTraits.h"
#include "core/VirtualClock.h"
#include "tests/backend/BackendTestSupport.h"
#include "tests/fakes/Fakes.h"

#include <QJsonArray>
#include <QTemporaryDir>

using namespace fennimar;
using namespace fennimar::test;

namespace {

// Sampler and ledger on a virtual clock, the front app monitored, unpicked or locked; the list never fetches.
struct MeasuringRig {
    enum class Front { Monitored, Other, Away };
    explicit MeasuringRig(const QDateTime &start, const QTimeZone &zone = QTimeZone::utc()) : clock(start, zone)
    {
        monitored.apply({platform::appPrefix() + QStringLiteral("org.example.Editor")});
        show(Front::Monitored);
        sampler.start();
    }

    void show(Front front)
    {
        const char *id = front == Front::Other ? "org.example.Game" : "org.example.Editor";
        desktop.front = RunningApp{QString::fromLatin1(id), 10, {}, {}};
        desktop.locked = front == Front::Away;
    }

    void run(qint64 seconds) { clock.advance(Millis(seconds * 1000)); }
    QTemporaryDir dir;
    VirtualClock clock;
    DayLedger ledger{dir.filePath(QStringLiteral("ledger.json")), clock};
    MonitoredApps monitored{BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock),
                            QStringLiteral("t"), QStringLiteral("d"), clock};
    FakeDesktop desktop;
    FakeAccessibility accessibility;
    FakeAppCatalog catalog;
    ActivitySampler sampler{clock, ledger, monitored, desktop, accessibility, catalog};
};

// DST both ways: local dates, the skipped hour empty, the repeated one capped at 3600 s, backfill by local date.
TEST(DaylightSaving, ADayOfCountingLandsUnderItsLocalDateAndHours)
{
    const struct {
        const char *zone;
        QDate date;
        int skippedHour;       // -1: the day has 25 hours
        qint64 offsetMinutes;  // east of UTC at the day's first second
    } days[] = {{"Europe/Berlin", QDate(2026, 3, 29), 2, 60}, {"America/New_York", QDate(2026, 11, 1), -1, -240}};
    for (const auto &c : days) {
        SCOPED_TRACE(c.zone);
        const QTimeZone zone(c.zone);
        ASSERT_TRUE(zone.isValid()) << "missing from the time-zone database";
        MeasuringRig rig(QDateTime(c.date, QTime(0, 0), zone).toUTC(), zone);
        rig.run(c.skippedHour >= 0 ? 23 * 3600 - 1 : 25 * 3600 - 1);  // the day's first second is the day before's
        const QString key = c.date.toString(Qt::ISODate);
        ASSERT_EQ(rig.ledger.days().size(), 1u);
        const DayRecord &day = rig.ledger.days().at(key);
        EXPECT_EQ(day.tzOffsetMinutes, c.offsetMinutes);
        for (int h = 0; h < 24; ++h)
            EXPECT_EQ(day.buckets[static_cast<size_t>(h)], h == 0 ? 3599 : h == c.skippedHour ? 0 : 3600) << h;
        rig.run(1);  // the next local midnight starts the next day, whatever the UTC date is
        const QString nextKey = c.date.addDays(1).toString(Qt::ISODate);
        EXPECT_EQ(rig.ledger.days().at(nextKey).total(), 1);
        EXPECT_EQ(rig.ledger.today(rig.clock.now()).date, nextKey);
        const auto backfill = rig.ledger.unreportedBackfill(rig.clock.now());
        ASSERT_EQ(backfill.size(), 1u);
        EXPECT_EQ(backfill.front().date, key);
    }
}

// The ledger holds exactly what was counted and the backend hears of the finished day once.
TEST(Soak, ADayOfTicksSavesAndReportsKeepsTheLedgerExact)
{
    using Front = MeasuringRig::Front;
    LoopbackHttpServer server;
    server.respond(QStringLiteral("/api/guard/heartbeat"), LoopbackHttpServer::Response::json("{}"));
    MeasuringRig rig(QDateTime(QDate(2026, 3, 13), QTime(12, 0), QTimeZone::utc()));
    FakeDeviceFacts facts;
    const SystemInfo system(facts);
    UsageReporter reporter(BackendClient::create(server.baseUrl(), rig.clock), rig.ledger,
                           PairedIdentity{"dev1", "child1", "Robin", "tok", rig.clock.now()}, rig.clock, system);
    QJsonArray backfilled;  // every day sent as backfill
    for (int minute = 0; minute < 24 * 60; ++minute) {
        // Each hour: 40 minutes in the editor, 10 in an app nobody picked, 10 away from the keyboard.
        rig.show(minute % 60 < 40 ? Front::Monitored : (minute % 60 < 50 ? Front::Other : Front::Away));
        rig.run(60);
        ASSERT_TRUE(rig.ledger.save().ok());
        if ((minute + 1) % 5 == 0) {
            finish(reporter.report());
            ASSERT_EQ(server.requests().size(), 1u) << "minute " << minute;
            for (const auto &day : server.requests().front().json()[QStringLiteral("daily_usage_backfill")].toArray())
                backfilled.append(day);
            server.clearRequests();  // the record of requests would grow as the agent must not
        }
    }
    EXPECT_FALSE(reporter.lastError().has_value());
    const DayRecord &first = rig.ledger.days().at("2026-03-13");
    const DayRecord &second = rig.ledger.days().at("2026-03-14");
    for (size_t h = 0; h < 24; ++h) {
        EXPECT_EQ(first.buckets[h], h >= 12 ? 2400 : 0) << "13th, hour " << h;
        EXPECT_EQ(second.buckets[h], h < 12 ? 2400 : 0) << "14th, hour " << h;
    }
    EXPECT_EQ(first.reportedTotal, 12 * 2400);
    EXPECT_EQ(second.reportedTotal, -1);  // today is sent every time but never marked
    ASSERT_EQ(backfilled.size(), 1);
    EXPECT_EQ(backfilled[0][QStringLiteral("date")].toString(), QStringLiteral("2026-03-13"));
    EXPECT_EQ(backfilled[0][QStringLiteral("total_seconds")].toInteger(), 12 * 2400);
    EXPECT_EQ(DayLedger(rig.ledger.storePath(), rig.clock).days(), rig.ledger.days());
    EXPECT_EQ(rig.clock.pendingTimers(), 1u);  // the sampler's; no request left a timer behind
}

}  // namespace
