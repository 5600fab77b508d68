// A day of the agent's measuring in virtual time: the sampler ticking every second, the ledger saved
// every minute and a usage report every 300 s to a loopback backend, across midnight. The ledger
// must hold exactly what was counted and the backend must hear of each finished day once.
#include "backend/UsageReporter.h"
#include "tests/backend/BackendTestSupport.h"
#include "tests/clock/MeasuringRig.h"

#include <QJsonArray>

using namespace fennimar;
using fennimar::test::LoopbackHttpServer;
using fennimar::test::MeasuringRig;

namespace {

TEST(Soak, ADayOfTicksSavesAndReportsKeepsTheLedgerExact)
{
    LoopbackHttpServer server;
    server.respond(QStringLiteral("/api/guard/heartbeat"), LoopbackHttpServer::Response::json("{}"));
    MeasuringRig rig(QDateTime(QDate(2026, 3, 13), QTime(12, 0), QTimeZone::utc()));
    test::FakeDeviceFacts facts;
    const SystemInfo system(facts);
    UsageReporter reporter(BackendClient::create(server.baseUrl(), rig.clock), rig.ledger,
                           PairedIdentity{"dev1", "child1", "Robin", "tok", rig.clock.now()}, rig.clock, system);

    // Each hour: 40 minutes in the editor, 10 in an app nobody picked, 10 away from the keyboard.
    int reports = 0;
    QJsonArray backfilled;  // every backfill day the backend was sent
    QJsonObject lastToday;
    for (int minute = 0; minute < 24 * 60; ++minute) {
        const int ofHour = minute % 60;
        rig.show(ofHour < 40 ? MeasuringRig::Front::Monitored
                             : (ofHour < 50 ? MeasuringRig::Front::Other : MeasuringRig::Front::Away));
        rig.run(60);
        if (rig.ledger.hasUnsavedChanges()) {
            ASSERT_TRUE(rig.ledger.save().ok());
        }
        if ((minute + 1) % 5 == 0) {
            test::finish(reporter.report());
            ASSERT_EQ(server.requests().size(), 1u) << "minute " << minute;
            const QJsonObject body = server.requests().front().json();
            for (const auto &day : body[QStringLiteral("daily_usage_backfill")].toArray())
                backfilled.append(day);
            lastToday = body[QStringLiteral("daily_usage")].toObject();
            server.clearRequests();  // the record of requests would grow as the agent must not
            ++reports;
        }
    }
    EXPECT_FALSE(reporter.lastError().has_value()) << reporter.lastError().value_or(QString()).toStdString();
    ASSERT_EQ(rig.ledger.days().size(), 2u);
    const DayRecord &first = rig.ledger.days().at("2026-03-13");
    const DayRecord &second = rig.ledger.days().at("2026-03-14");
    for (size_t h = 0; h < 24; ++h) {
        EXPECT_EQ(first.buckets[h], h >= 12 ? 2400 : 0) << "13th, hour " << h;
        EXPECT_EQ(second.buckets[h], h < 12 ? 2400 : 0) << "14th, hour " << h;
    }
    EXPECT_EQ(first.reportedTotal, 12 * 2400);
    EXPECT_EQ(second.reportedTotal, -1);  // today is sent every time but never marked

    // 288 reports; the finished day went out as backfill exactly once, with its whole total.
    EXPECT_EQ(reports, 288);
    ASSERT_EQ(backfilled.size(), 1);
    EXPECT_EQ(backfilled[0][QStringLiteral("date")].toString(), QStringLiteral("2026-03-13"));
    EXPECT_EQ(backfilled[0][QStringLiteral("total_seconds")].toInteger(), 12 * 2400);
    EXPECT_EQ(lastToday[QStringLiteral("date")].toString(), QStringLiteral("2026-03-14"));
    EXPECT_EQ(lastToday[QStringLiteral("total_seconds")].toInteger(), 12 * 2400);
    // What is on disk is what is in memory.
    EXPECT_EQ(DayLedger(rig.ledger.storePath(), rig.clock).days(), rig.ledger.days());
    EXPECT_EQ(rig.clock.pendingTimers(), 1u);  // the sampler's; no request left a timer behind
}

}  // namespace
