// What each endpoint puts on the wire (method, path, headers, JSON) and how it reads the answer.
#include "backend/BuildIdentity.h"
#include "platform/PlatformTraits.h"
#include "tests/backend/BackendTestSupport.h"

#include <QJsonArray>

namespace fennimar::test {
namespace {

QJsonObject sevenFacts(const QString &deviceType)
{
    return QJsonObject{{"brand", "Framework"},   {"model", "Laptop 13"},      {"os", platform::osName()},
                       {"os_version", "12.0.0"}, {"device_type", deviceType}, {"device_name", "kids-pc"},
                       {"os_user", "robin"}};
}

QJsonObject appBuild()
{
    return QJsonObject{{"app_version", BuildIdentity::appVersion()},
                       {"build_number", BuildIdentity::buildNumber()},
                       {"platform", platform::osName()},
                       {"os_version", "12.0.0"}};
}

using WireTest = LoopbackClientTest;

TEST_F(WireTest, PairingRequestSendsDeviceTypeAndFactsWithoutToken)
{
    server.respond("/api/devices/setup-pending", Response::json(R"({"token":"t1","pair_code":"K7M2QX","device_id":"d1",
                                     "expires_at":"2026-03-14T09:10:00.000Z","extra":[1]})"));
    const auto ticket = finish(client.requestPairing(system));
    ASSERT_TRUE(ticket.ok()) << ticket.error().description().toStdString();
    EXPECT_EQ(ticket.value(), (PairingTicket{"t1", "K7M2QX", "d1", "2026-03-14T09:10:00.000Z"}));
    const auto &request = server.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_FALSE(request.header("Authorization"));
    EXPECT_EQ(request.json(),
              (QJsonObject{{"device_type", platform::osName() + "_laptop"}, {"platform_info", sevenFacts("laptop")}}));
}

TEST_F(WireTest, StatusPollIsABareGetWithTheTokenAsOneEncodedSegment)
{
    server.respond("/api/devices/setup-status/a b/c?d#e%", Response::json(R"({"claimed":false,"expired":false})"));
    const auto status = finish(client.setupStatus("a b/c?d#e%"));
    ASSERT_TRUE(status.ok()) << status.error().description().toStdString();
    EXPECT_EQ(status.value(), SetupStatus{});
    const auto &request = server.requests().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.rawPath, "/api/devices/setup-status/a%20b%2Fc%3Fd%23e%25");
    EXPECT_FALSE(request.hasQuery);
    EXPECT_FALSE(request.header("Authorization"));
}

TEST_F(WireTest, HeartbeatSendsFactsBuildAndChecksAndAcceptsAnyBody)
{
    server.respond("/api/devices/dev 1/heartbeat", Response::text(200, "anything"));
    const auto text =
        finish(client.heartbeat("dev 1", BackendClient::HealthChecks{false, true, true, false, false, false}, system));
    ASSERT_TRUE(text.ok()) << text.error().description().toStdString();
    EXPECT_EQ(text.value(), "anything");
    const auto &request = server.requests().at(0);
    EXPECT_EQ(request.rawPath, "/api/devices/dev%201/heartbeat");
    EXPECT_FALSE(request.header("Authorization"));
    const QJsonObject check0{{"ok", false}, {"actionable_intent", QJsonValue::Null}};
    const QJsonObject check1{{"ok", true}, {"actionable_intent", QJsonValue::Null}};
    EXPECT_EQ(
        request.json(),
        (QJsonObject{{"platform_info", sevenFacts("laptop")},
                     {"app_build", appBuild()},
                     {"health_snapshot", QJsonObject{{"os", sevenFacts("laptop")},
                                                     {"checks", QJsonObject{{"macos_accessibility_granted", check0},
                                                                            {"macos_login_item_enabled", check1},
                                                                            {"foreground_sampling", check1},
                                                                            {"tamper_evidence", check0},
                                                                            {"monitored_list", check0},
                                                                            {"browser_pages", check0}}}}}}));
}

TEST_F(WireTest, UsageReportCarriesTodayAndBackfillOnlyWhenThereIsSome)
{
    server.respond("/api/guard/heartbeat", Response::json({}));
    DayRecord today{.date = "2026-03-14"};
    today.buckets[9] = 1200;
    today.buckets[10] = 60;
    today.tzOffsetMinutes = 60;
    DayRecord past = today;
    past.date = "2026-03-13";
    past.reportedTotal = 5;
    const auto first = finish(client.reportUsage("tok", "dev1", today, {}, system));
    ASSERT_TRUE(first.ok()) << first.error().description().toStdString();
    const auto second = finish(client.reportUsage("tok", "dev1", today, {past, today}, system));
    ASSERT_TRUE(second.ok());
    const qint64 nowMs = clock.now().toMSecsSinceEpoch();
    auto day = [nowMs](const DayRecord &r) {
        QJsonArray buckets;
        for (qint64 b : r.buckets)
            buckets.push_back(b);
        return QJsonObject{{"date", r.date},         {"source", "macos_foreground_sampler"},
                           {"total_seconds", 1260},  {"bucket_seconds", 3600},
                           {"buckets", buckets},     {"tz_offset_minutes", 60},
                           {"platform", "desktop"},  {"carrier", "macos_agent"},
                           {"computed_at_ms", nowMs}};
    };
    QJsonObject body = server.requests().at(0).json();
    EXPECT_GT(body.take("device_uptime_ms").toInteger(), 0);
    EXPECT_EQ(body, (QJsonObject{{"device_id", "dev1"},
                                 {"device_type", "desktop"},
                                 {"app_build", appBuild()},
                                 {"wall_clock_ms", nowMs},
                                 {"daily_usage", day(today)}}));
    const QJsonObject withBackfill = server.requests().at(1).json();
    EXPECT_EQ(withBackfill["daily_usage_backfill"].toArray(), (QJsonArray{day(past), day(today)}));
}

TEST_F(WireTest, MonitoredPackagesQueriesByDeviceAndKeepsBlockedAppsOfThisPlatformAndSites)
{
    // This platform's blocked apps and all blocked sites; other platforms', unblocked, upper-case prefix: out.
    const QString own = platform::appPrefix();
    server.respond("/api/guard/my-installed-apps",
                   Response::json(QString(R"({"apps":[{"package_id":"%1firefox-esr","is_blocked":true},
                       {"package_id":"web:example.com","is_blocked":true}, {"package_id":"%1gimp","is_blocked":false},
                       {"package_id":"other:com.example.App","is_blocked":true},
                       {"package_id":"%2vlc","is_blocked":true}]})")
                                      .arg(own, own.toUpper())
                                      .toUtf8()));
    const auto withDevice = finish(client.monitoredPackages("tok", "dev 1+x"));
    ASSERT_TRUE(withDevice.ok()) << withDevice.error().description().toStdString();
    EXPECT_EQ(withDevice.value(), (QStringList{own + "firefox-esr", "web:example.com"}));
    const auto withoutDevice = finish(client.monitoredPackages("tok", ""));
    ASSERT_TRUE(withoutDevice.ok());
    const auto &requests = server.requests();
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].query, "device_id=dev%201%2Bx");
    EXPECT_FALSE(requests[1].hasQuery);
    for (const auto &request : requests) {
        EXPECT_EQ(request.header("Authorization"), "Bearer tok");
        EXPECT_FALSE(request.header("Content-Type"));
    }
}

TEST_F(WireTest, AppsSeenSendsCategoryOnlyWhenKnownAndReturnsTheNewCount)
{
    server.respond("/api/guard/desktop-apps-seen", Response::json(R"({"recorded":3,"new":1,"skipped_system":2})"));
    const std::vector<SeenApp> apps{{"org.gnome.Chess", "Chess", QString("Game")}, {"vlc", "VLC", std::nullopt}};
    const auto counted = finish(client.reportAppsSeen("tok", "dev1", apps));
    ASSERT_TRUE(counted.ok()) << counted.error().description().toStdString();
    EXPECT_EQ(counted.value(), 1);
    EXPECT_EQ(server.requests()[0].header("Authorization"), "Bearer tok");
    EXPECT_EQ(
        server.requests()[0].json(),
        (QJsonObject{
            {"device_id", "dev1"},
            {"apps",
             QJsonArray{QJsonObject{{"bundle_id", "org.gnome.Chess"}, {"app_name", "Chess"}, {"category", "Game"}},
                        QJsonObject{{"bundle_id", "vlc"}, {"app_name", "VLC"}}}}}));
}

}  // namespace
}  // namespace fennimar::test
