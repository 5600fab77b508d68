#include "tests/refbackend/HttpProbe.h"
#include "tests/support/RefBackendProcess.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

using namespace fennimar::test;

namespace {

class RefBackendTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ok()) << server.error().toStdString(); }

    QJsonObject deviceEntry(const QString &id)
    {
        const auto all = server.devices();
        EXPECT_TRUE(all.ok()) << all.error().toStdString();
        for (const auto &d : all.ok() ? *all : QJsonArray())
            if (d.toObject().value(QStringLiteral("device_id")).toString() == id)
                return d.toObject();
        ADD_FAILURE() << "no device " << id.toStdString();
        return {};
    }

    RefBackendProcess server;
    HttpProbe http{server.baseUrl()};
};

TEST_F(RefBackendTest, PairingRoundTripFromTicketToClaimedStatus)
{
    const auto ticket = http.post(QStringLiteral("/api/devices/setup-pending"), pendingBody());
    ASSERT_EQ(ticket.status, 201) << ticket.body.toStdString();
    const QJsonObject t = ticket.json();
    const QString code = t.value(QStringLiteral("pair_code")).toString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-HJKMNP-Z2-9]{6}$")).match(code).hasMatch())
        << code.toStdString();
    const QString expires = t.value(QStringLiteral("expires_at")).toString();
    ASSERT_TRUE(
        QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)")).match(expires).hasMatch())
        << expires.toStdString();
    const qint64 lifetime = QDateTime::currentDateTimeUtc().secsTo(QDateTime::fromString(expires, Qt::ISODateWithMs));
    EXPECT_NEAR(static_cast<double>(lifetime), 600.0, 30.0);

    const QString statusPath =
        QStringLiteral("/api/devices/setup-status/") + t.value(QStringLiteral("token")).toString();
    const auto pending = http.get(statusPath);
    ASSERT_EQ(pending.status, 200);
    EXPECT_EQ(pending.json(), (QJsonObject{{QStringLiteral("claimed"), false}, {QStringLiteral("expired"), false}}));

    // The parent types the code in lower case; the claim still finds it.
    const auto claim = server.claim(code.toLower(), QStringLiteral("Mia"));
    ASSERT_TRUE(claim.ok()) << claim.error().toStdString();
    const auto claimed = http.get(statusPath).json();
    EXPECT_TRUE(claimed.value(QStringLiteral("claimed")).toBool());
    EXPECT_FALSE(claimed.value(QStringLiteral("expired")).toBool());
    EXPECT_EQ(claimed.value(QStringLiteral("device_id")), t.value(QStringLiteral("device_id")));
    EXPECT_EQ(claimed.value(QStringLiteral("child_id")), claim->value(QStringLiteral("child_id")));
    EXPECT_EQ(claimed.value(QStringLiteral("child_session_token")),
              claim->value(QStringLiteral("child_session_token")));
    EXPECT_EQ(claimed.value(QStringLiteral("child")).toObject().value(QStringLiteral("name")), QStringLiteral("Mia"));
    EXPECT_EQ(claimed.value(QStringLiteral("device_name")), QStringLiteral("kid-pc"));

    const auto again = server.claim(code, QStringLiteral("Noah"));
    EXPECT_FALSE(again.ok());
    EXPECT_TRUE(again.error().contains(QStringLiteral("409"))) << again.error().toStdString();
    EXPECT_FALSE(server.claim(QStringLiteral("ZZZZZZ"), QStringLiteral("Mia")).ok());
    EXPECT_EQ(http.get(QStringLiteral("/api/devices/setup-status/no-such-token")).status, 404);
}

TEST(RefBackendExpiry, AnUnclaimedCodeExpiresWhileAClaimedOneStaysClaimed)
{
    RefBackendProcess server({QStringLiteral("--code-lifetime"), QStringLiteral("2")});
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    HttpProbe http(server.baseUrl());
    const auto statusPath = [](const QJsonObject &ticket) {
        return QStringLiteral("/api/devices/setup-status/") + ticket.value(QStringLiteral("token")).toString();
    };
    const auto claimedTicket = http.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()).json();
    const auto idleTicket = http.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()).json();
    ASSERT_TRUE(server.claim(claimedTicket.value(QStringLiteral("pair_code")).toString(), QStringLiteral("Mia")).ok());

    QJsonObject idle;
    const QDeadlineTimer deadline(10000);
    do {
        QThread::msleep(50);
        idle = http.get(statusPath(idleTicket)).json();
    } while (!idle.value(QStringLiteral("expired")).toBool() && !deadline.hasExpired());
    EXPECT_EQ(idle, (QJsonObject{{QStringLiteral("claimed"), false}, {QStringLiteral("expired"), true}}));
    const auto late = server.claim(idleTicket.value(QStringLiteral("pair_code")).toString(), QStringLiteral("Mia"));
    ASSERT_FALSE(late.ok());
    EXPECT_TRUE(late.error().contains(QStringLiteral("410"))) << late.error().toStdString();

    // Past its code's expiry a claimed setup still hands out its session, never "expired".
    const auto claimed = http.get(statusPath(claimedTicket)).json();
    EXPECT_TRUE(claimed.value(QStringLiteral("claimed")).toBool());
    EXPECT_FALSE(claimed.value(QStringLiteral("expired")).toBool());
    EXPECT_FALSE(claimed.value(QStringLiteral("child_session_token")).toString().isEmpty());
}

TEST_F(RefBackendTest, HeartbeatKeepsTheWholeLatestBodyPerDevice)
{
    const auto device = pairDevice(server, http, QStringLiteral("Mia"));
    ASSERT_TRUE(device.error.isEmpty()) << device.error.toStdString();
    const QString path = QStringLiteral("/api/devices/") + device.deviceId + QStringLiteral("/heartbeat");
    ASSERT_EQ(http.post(path, heartbeatBody(false)).status, 200);
    ASSERT_EQ(http.post(path, heartbeatBody(true)).status, 200);

    const auto beat = deviceEntry(device.deviceId).value(QStringLiteral("last_heartbeat")).toObject();
    EXPECT_EQ(beat.value(QStringLiteral("beats")).toInt(), 2);
    EXPECT_EQ(beat.value(QStringLiteral("body")).toObject(), heartbeatBody(true));
    EXPECT_EQ(http.post(QStringLiteral("/api/devices/not-a-device/heartbeat"), heartbeatBody(true)).status, 404);

    // A removed device is unknown to heartbeats and its token no longer opens anything.
    ASSERT_TRUE(server.removeDevice(device.deviceId).ok());
    EXPECT_EQ(http.post(path, heartbeatBody(true)).status, 404);
    EXPECT_EQ(http.get(QStringLiteral("/api/guard/my-installed-apps"), device.token).status, 401);
}

TEST_F(RefBackendTest, UsageIsStoredPerDayAndHourAndTheLatestTotalsWin)
{
    const auto device = pairDevice(server, http, QStringLiteral("Mia"));
    ASSERT_TRUE(device.error.isEmpty()) << device.error.toStdString();
    const QString path = QStringLiteral("/api/guard/heartbeat");
    const QJsonArray backfill{dayObject(QStringLiteral("2026-12-04"), {20, 1800})};
    ASSERT_EQ(http.post(path, usageBody(device.deviceId, dayObject(QStringLiteral("2026-12-05"), {9, 600}), backfill),
                        device.token)
                  .status,
              200);
    // Later the same day: more seconds in hour 9 and some in hour 10; hour 9 is replaced, not added.
    ASSERT_EQ(http.post(path, usageBody(device.deviceId, dayObject(QStringLiteral("2026-12-05"), {9, 900, 10, 60})),
                        device.token)
                  .status,
              200);

    const auto usage = deviceEntry(device.deviceId).value(QStringLiteral("usage")).toArray();
    ASSERT_EQ(usage.size(), 2);
    const auto older = usage.at(0).toObject(), latest = usage.at(1).toObject();
    EXPECT_EQ(older.value(QStringLiteral("date")), QStringLiteral("2026-12-04"));
    EXPECT_EQ(older.value(QStringLiteral("buckets")).toArray().at(20).toInt(), 1800);
    EXPECT_EQ(latest.value(QStringLiteral("date")), QStringLiteral("2026-12-05"));
    EXPECT_EQ(latest.value(QStringLiteral("total_seconds")).toInt(), 960);
    EXPECT_EQ(latest.value(QStringLiteral("buckets")).toArray().at(9).toInt(), 900);
    EXPECT_EQ(latest.value(QStringLiteral("buckets")).toArray().at(10).toInt(), 60);
    EXPECT_EQ(latest.value(QStringLiteral("tz_offset_minutes")).toInt(), 60);

    // One child's token cannot write usage for another device.
    const auto other = pairDevice(server, http, QStringLiteral("Noah"));
    EXPECT_EQ(
        http.post(path, usageBody(device.deviceId, dayObject(QStringLiteral("2026-12-05"), {})), other.token).status,
        403);
}

TEST_F(RefBackendTest, SeenAppsCountOnlyAppsNewToTheChild)
{
    const auto laptop = pairDevice(server, http, QStringLiteral("Mia"));
    const auto desktop = pairDevice(server, http, QStringLiteral("Mia"));
    ASSERT_TRUE(laptop.error.isEmpty() && desktop.error.isEmpty());
    const auto app = [](const QString &id, const QString &category = {}) {
        QJsonObject o{{QStringLiteral("bundle_id"), id}, {QStringLiteral("app_name"), id.toUpper()}};
        if (!category.isEmpty())
            o.insert(QStringLiteral("category"), category);
        return o;
    };
    const auto report = [&](const PairedDevice &d, const QJsonArray &apps) {
        return http.post(QStringLiteral("/api/guard/desktop-apps-seen"),
                         QJsonObject{{QStringLiteral("device_id"), d.deviceId}, {QStringLiteral("apps"), apps}},
                         d.token);
    };
    struct Case {
        const PairedDevice *device;
        QJsonArray apps;
        int expectedNew;
    } cases[] = {
        {&laptop,
         {app(QStringLiteral("firefox-esr"), QStringLiteral("Network")), app(QStringLiteral("gedit")),
          app(QStringLiteral("firefox-esr"))},
         2},
        {&laptop, {app(QStringLiteral("gedit")), app(QStringLiteral("vlc"))}, 1},
        {&desktop, {app(QStringLiteral("vlc")), app(QStringLiteral("gimp"))}, 1},  // same child, other device
        {&laptop, {}, 0},
    };
    for (const auto &c : cases) {
        const auto answer = report(*c.device, c.apps);
        ASSERT_EQ(answer.status, 200) << answer.body.toStdString();
        EXPECT_EQ(answer.json().value(QStringLiteral("new")).toInt(), c.expectedNew) << answer.body.toStdString();
        EXPECT_EQ(answer.json().value(QStringLiteral("skipped_system")).toInt(-1), 0);
    }
    const auto seen = deviceEntry(laptop.deviceId).value(QStringLiteral("seen_apps")).toArray();
    ASSERT_EQ(seen.size(), 3);
    QStringList ids;
    for (const auto &s : seen)
        ids << s.toObject().value(QStringLiteral("bundle_id")).toString();
    ids.sort();
    EXPECT_EQ(ids, (QStringList{QStringLiteral("firefox-esr"), QStringLiteral("gedit"), QStringLiteral("vlc")}));
}

TEST_F(RefBackendTest, InstalledAppsFollowTheParentsChoiceForThatChildOnly)
{
    const auto mia = pairDevice(server, http, QStringLiteral("Mia"));
    const auto noah = pairDevice(server, http, QStringLiteral("Noah"));
    ASSERT_TRUE(mia.error.isEmpty() && noah.error.isEmpty());
    const QString path = QStringLiteral("/api/guard/my-installed-apps?device_id=") + mia.deviceId;
    EXPECT_EQ(http.get(path, mia.token).json(), (QJsonObject{{QStringLiteral("apps"), QJsonArray()}}));

    ASSERT_TRUE(server
                    .setApps(QStringLiteral("Mia"),
                             {QStringLiteral("linux:firefox-esr"), QStringLiteral("web:example.com")},
                             {QStringLiteral("linux:gedit")})
                    .ok());
    const auto entry = [](const char *id, bool blocked) {
        return QJsonObject{{QStringLiteral("package_id"), QLatin1String(id)}, {QStringLiteral("is_blocked"), blocked}};
    };
    EXPECT_EQ(
        http.get(path, mia.token).json().value(QStringLiteral("apps")).toArray(),
        (QJsonArray{entry("linux:firefox-esr", true), entry("web:example.com", true), entry("linux:gedit", false)}));
    EXPECT_EQ(http.get(QStringLiteral("/api/guard/my-installed-apps"), noah.token).json().value(QStringLiteral("apps")),
              QJsonArray());

    // Setting again replaces the whole list.
    ASSERT_TRUE(server.setApps(QStringLiteral("Mia"), {QStringLiteral("web:example.org")}).ok());
    EXPECT_EQ(http.get(path, mia.token).json().value(QStringLiteral("apps")).toArray(),
              QJsonArray{entry("web:example.org", true)});
}

TEST_F(RefBackendTest, GuardedRoutesRefuseMissingOrWrongTokens)
{
    const auto device = pairDevice(server, http, QStringLiteral("Mia"));
    ASSERT_TRUE(device.error.isEmpty());
    const QByteArray usage =
        QJsonDocument(usageBody(device.deviceId, dayObject(QStringLiteral("2026-12-05"), {}))).toJson();
    const QList<QByteArray> authorizations = {
        {}, "Bearer", "Bearer ", "Bearer wrong-token", "Basic " + device.token.toUtf8(), device.token.toUtf8()};
    const QList<QPair<QByteArray, QString>> routes = {{"GET", QStringLiteral("/api/guard/my-installed-apps")},
                                                      {"POST", QStringLiteral("/api/guard/heartbeat")},
                                                      {"POST", QStringLiteral("/api/guard/desktop-apps-seen")}};
    for (const auto &[method, path] : routes) {
        for (const auto &authorization : authorizations) {
            QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "application/json"}};
            if (!authorization.isNull())
                headers.append({"Authorization", authorization});
            const auto answer = http.send(method, path, method == "POST" ? usage : QByteArray(), headers);
            EXPECT_EQ(answer.status, 401) << path.toStdString() << " with " << authorization.toStdString();
            EXPECT_FALSE(answer.json().value(QStringLiteral("error")).toString().isEmpty());
        }
    }
    // The scheme is case-insensitive.
    EXPECT_EQ(http.send("GET", routes.at(0).second, {}, {{"Authorization", "bearer " + device.token.toUtf8()}}).status,
              200);
}

TEST_F(RefBackendTest, DataOutlivesARestartOnTheSameDatabase)
{
    const auto device = pairDevice(server, http, QStringLiteral("Mia"));
    ASSERT_TRUE(device.error.isEmpty());
    RefBackendProcess second({QStringLiteral("--db"), server.databasePath()});
    ASSERT_TRUE(second.ok()) << second.error().toStdString();
    HttpProbe again(second.baseUrl());
    EXPECT_EQ(again.get(QStringLiteral("/api/guard/my-installed-apps"), device.token).status, 200);
    for (auto *process : {&second, &server}) {
        const auto stopped = process->stop();
        EXPECT_TRUE(stopped.ok()) << stopped.error().toStdString();
    }
}

}  // namespace
