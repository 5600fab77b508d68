// A day of the agent's measuring in virtual time: the sampler ticking every second, the ledger saved
// every minute and a usage report every 300 s to a loopback backend, across midnight. The ledger
// must hold exactly what was counted, the backend must hear of each finished day once, and memory
// must not creep (the resident size is printed for the record, not asserted).
#include "backend/UsageReporter.h"
#include "tests/backend/BackendTestSupport.h"
#include "tests/clock/MeasuringRig.h"

#include <QFile>
#include <QJsonArray>

#include <unistd.h>

#include <cstdio>
#include <vector>

using namespace fennimar;
using fennimar::test::LoopbackHttpServer;
using fennimar::test::MeasuringRig;

namespace {

qint64 residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE) / 1024 : -1;
}

TEST(Soak, ADayOfTicksSavesAndReportsKeepsTheLedgerExact)
{
    LoopbackHttpServer server;
    ASSERT_TRUE(server.isListening());
    server.respond(QStringLiteral("/api/guard/heartbeat"), LoopbackHttpServer::Response::json("{}"));

    MeasuringRig rig(QDateTime(QDate(2026, 3, 13), QTime(12, 0), QTimeZone::utc()));
    test::FakeDeviceFacts facts;
    const SystemInfo system(facts);
    UsageReporter reporter(BackendClient::create(server.baseUrl(), rig.clock), rig.ledger,
                           PairedIdentity{"dev1", "child1", "Robin", "tok", rig.clock.now()}, rig.clock, system);
    rig.sampler.start();

    // Each hour: 40 minutes in the editor, 10 in an app nobody picked, 10 away from the keyboard.
    qint64 rssAfterFirstHour = 0, rssAtNoon = 0;
    int saves = 0, reports = 0;
    std::vector<QJsonObject> backfilled;  // every backfill day the backend was sent
    QJsonObject lastToday;
    for (int minute = 0; minute < 24 * 60; ++minute) {
        const int ofHour = minute % 60;
        rig.show(ofHour < 40   ? MeasuringRig::Front::Monitored
                 : ofHour < 50 ? MeasuringRig::Front::Other
                               : MeasuringRig::Front::Away);
        rig.run(60);
        if (rig.ledger.hasUnsavedChanges()) {
            ASSERT_TRUE(rig.ledger.save().ok());
            ++saves;
        }
        if ((minute + 1) % 5 == 0) {
            test::finish(reporter.report());
            // Only what the checks need is kept: the server's record of requests would grow the
            // process as the agent's own memory must not.
            ASSERT_EQ(server.requests().size(), 1u) << "minute " << minute;
            const QJsonObject body = server.requests().front().json();
            for (const auto &day : body[QStringLiteral("daily_usage_backfill")].toArray())
                backfilled.push_back(day.toObject());
            lastToday = body[QStringLiteral("daily_usage")].toObject();
            server.clearRequests();
            ++reports;
        }
        if (minute == 59)
            rssAfterFirstHour = residentKiB();
        if (minute == 12 * 60 - 1)
            rssAtNoon = residentKiB();
    }
    const qint64 rssAtEnd = residentKiB();
    std::printf("soak: resident %lld KiB after 1 h, %lld KiB after 12 h, %lld KiB after 24 h; %d saves\n",
                static_cast<long long>(rssAfterFirstHour), static_cast<long long>(rssAtNoon),
                static_cast<long long>(rssAtEnd), saves);
    ::testing::Test::RecordProperty("rss_growth_kib", std::to_string(rssAtEnd - rssAfterFirstHour));

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
    ASSERT_EQ(backfilled.size(), 1u);
    EXPECT_EQ(backfilled.front()[QStringLiteral("date")].toString(), QStringLiteral("2026-03-13"));
    EXPECT_EQ(backfilled.front()[QStringLiteral("total_seconds")].toInteger(), 12 * 2400);
    EXPECT_EQ(lastToday[QStringLiteral("date")].toString(), QStringLiteral("2026-03-14"));
    EXPECT_EQ(lastToday[QStringLiteral("total_seconds")].toInteger(), 12 * 2400);

    // What is on disk is what is in memory.
    const DayLedger reloaded(rig.ledger.storePath(), rig.clock);
    EXPECT_EQ(reloaded.days(), rig.ledger.days());
    EXPECT_EQ(rig.clock.pendingTimers(), 1u);  // the sampler's; no request left a timer behind
}

}  // namespace
