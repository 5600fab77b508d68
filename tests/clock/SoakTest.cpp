// A day of the agent's measuring in virtual time across midnight: the sampler ticking every second,
// the ledger saved every minute, a usage report every 300 s to a loopback backend. The ledger holds
// exactly what was counted and the backend hears of the finished day once.
#include "backend/UsageReporter.h"
#include "tests/backend/BackendTestSupport.h"
#include "tests/clock/MeasuringRig.h"

#include <QJsonArray>

using namespace fennimar;
using Front = fennimar::test::MeasuringRig::Front;

TEST(Soak, ADayOfTicksSavesAndReportsKeepsTheLedgerExact)
{
    test::LoopbackHttpServer server;
    server.respond(QStringLiteral("/api/guard/heartbeat"), test::LoopbackHttpServer::Response::json("{}"));
    test::MeasuringRig rig(QDateTime(QDate(2026, 3, 13), QTime(12, 0), QTimeZone::utc()));
    test::FakeDeviceFacts facts;
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
            test::finish(reporter.report());
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
