// The client against the reference backend: pairing, heartbeat, usage and the app list end to end.
#include "backend/ISO8601DateFormatter.h"
#include "platform/PlatformConstants.h"
#include "platform/RealClock.h"
#include "tests/backend/BackendTestSupport.h"
#include "tests/support/RefBackendProcess.h"

namespace fennimar::test {
namespace {

class RefBackendWireTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(backend.ok()) << backend.error().toStdString(); }

    // A pair code requested, polled once unclaimed, claimed by a parent and polled again.
    SetupStatus pair()
    {
        const auto ticket = finish(client.requestPairing(system));
        EXPECT_TRUE(ticket.ok()) << ticket.error().description().toStdString();
        if (!ticket.ok())
            return {};
        EXPECT_TRUE(ISO8601DateFormatter::fennimar().date(ticket.value().expiresAt))
            << ticket.value().expiresAt.toStdString();
        const auto pending = finish(client.setupStatus(ticket.value().token));
        EXPECT_TRUE(pending.ok() && !pending.value().claimed && !pending.value().expired);
        const auto claim = backend.claim(ticket.value().pairCode, "Robin");
        EXPECT_TRUE(claim.ok()) << claim.error().toStdString();
        const auto claimed = finish(client.setupStatus(ticket.value().token));
        EXPECT_TRUE(claimed.ok()) << claimed.error().description().toStdString();
        return claimed.ok() ? claimed.value() : SetupStatus{};
    }

    RefBackendProcess backend;
    RealClock clock;
    FakeDeviceFacts facts;
    SystemInfo system{facts};
    BackendClient client = BackendClient::create(backend.baseUrl(), clock, {Millis(5000), Millis(10000), 1 << 20});
};

TEST_F(RefBackendWireTest, PairingHeartbeatUsageAndAppsReachTheBackendAsSent)
{
    const SetupStatus status = pair();
    ASSERT_TRUE(status.claimed && !status.expired);
    ASSERT_TRUE(status.childSessionToken && status.childId && status.deviceId);
    EXPECT_EQ(status.child.value_or(ChildSummary{}).name, "Robin");
    ASSERT_TRUE(finish(client.heartbeat(*status.deviceId, true, false, system)).ok());

    DayRecord today = DayLedger::freshRecord(clock.now(), clock.timeZone());
    today.buckets[9] = 1200;
    DayRecord yesterday = DayLedger::freshRecord(clock.now().addDays(-1), clock.timeZone());
    yesterday.buckets[20] = 300;
    const auto sent =
        finish(client.reportUsage(*status.childSessionToken, *status.deviceId, today, {yesterday}, system));
    ASSERT_TRUE(sent.ok()) << sent.error().description().toStdString();
    const auto refused = finish(client.reportUsage("not-a-token", *status.deviceId, today, {}, system));
    EXPECT_EQ(refused.ok() ? 0 : refused.error().code, 401);

    const auto devices = backend.devices();
    ASSERT_TRUE(devices.ok() && devices->size() == 1) << devices.error().toStdString();
    const QJsonObject device = devices.value().at(0).toObject();
    EXPECT_EQ(device["device_type"].toString(), platform::osName() + "_laptop");
    EXPECT_EQ(device["platform_info"].toObject(), system.platformInfo());
    EXPECT_EQ(device["last_heartbeat"]["body"]["health_snapshot"]["checks"]["macos_login_item_enabled"]["ok"], false);
    QStringList stored;
    for (const auto &day : device["usage"].toArray())
        stored << QStringLiteral("%1=%2")
                      .arg(day.toObject()["date"].toString())
                      .arg(day.toObject()["total_seconds"].toInteger());
    EXPECT_EQ(stored, (QStringList{yesterday.date + "=300", today.date + "=1200"}));

    const QString own = platform::appPrefix();
    ASSERT_TRUE(backend
                    .admin({"set-apps", "--child", "Robin", "--unblocked", own + "gimp", "--", own + "firefox-esr",
                            "web:example.com"})
                    .ok());
    const auto packages = finish(client.monitoredPackages(*status.childSessionToken, *status.deviceId));
    ASSERT_TRUE(packages.ok()) << packages.error().description().toStdString();
    EXPECT_EQ(QSet<QString>(packages.value().begin(), packages.value().end()),
              (QSet<QString>{own + "firefox-esr", "web:example.com"}));
}

}  // namespace
}  // namespace fennimar::test
