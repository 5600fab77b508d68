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
        for (const auto &d : all.ok() ? *all : QJsonArray())
            if (d.toObject().value(QStringLiteral("device_id")).toString() == id)
                return d.toObject();
        ADD_FAILURE() << "no device " << id.toStdString();
        return {};
    }
    QJsonValue appsOf(const PairedDevice &d)
    {
        return http.get(QStringLiteral("/api/guard/my-installed-apps"), d.token).json().value(QStringLiteral("apps"));
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
    const auto expires = QDateTime::fromString(t.value(QStringLiteral("expires_at")).toString(), Qt::ISODateWithMs);
    EXPECT_NEAR(static_cast<double>(QDateTime::currentDateTimeUtc().secsTo(expires)), 600.0, 30.0);

    const QString statusPath =
        QStringLiteral("/api/devices/setup-status/") + t.value(QStringLiteral("token")).toString();
    EXPECT_EQ(http.get(statusPath).json(),
              (QJsonObject{{QStringLiteral("claimed"), false}, {QStringLiteral("expired"), false}}));
    // The parent types the code in lower case; the claim still finds it.
    const auto claim = server.claim(code.toLower(), QStringLiteral("Mia"));
    ASSERT_TRUE(claim.ok()) << claim.error().toStdString();
    const auto claimed = http.get(statusPath).json();
    EXPECT_TRUE(claimed.value(QStringLiteral("claimed")).toBool());
    EXPECT_FALSE(claimed.value(QStringLiteral("expired")).toBool());
    EXPECT_EQ(claimed.value(QStringLiteral("device_id")), t.value(QStringLiteral("device_id")));
    EXPECT_EQ(claimed.value(QStringLiteral("child_session_token")),
              claim->value(QStringLiteral("child_session_token")));
    EXPECT_EQ(claimed.value(QStringLiteral("child")).toObject().value(QStringLiteral("name")), QStringLiteral("Mia"));

    const auto again = server.claim(code, QStringLiteral("Noah"));
    EXPECT_TRUE(!again.ok() && again.error().contains(QStringLiteral("409")));
    EXPECT_FALSE(server.claim(QStringLiteral("ZZZZZZ"), QStringLiteral("Mia")).ok());
    EXPECT_EQ(http.get(QStringLiteral("/api/devices/setup-status/no-such-token")).status, 404);
}

TEST(RefBackendExpiry, AnUnclaimedCodeExpiresWhileAClaimedOneStaysClaimed)
{
    RefBackendProcess server({QStringLiteral("--code-lifetime"), QStringLiteral("2")});
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    HttpProbe http(server.baseUrl());
    const auto status = [&](const QJsonObject &ticket) {
        return http.get(QStringLiteral("/api/devices/setup-status/") + ticket.value(QStringLiteral("token")).toString())
            .json();
    };
    const auto claimedTicket = http.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()).json();
    const auto idleTicket = http.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()).json();
    ASSERT_TRUE(server.claim(claimedTicket.value(QStringLiteral("pair_code")).toString(), QStringLiteral("Mia")).ok());

    QJsonObject idle;
    for (const QDeadlineTimer deadline(10000);
         !idle.value(QStringLiteral("expired")).toBool() && !deadline.hasExpired();)
        QThread::msleep(50), idle = status(idleTicket);
    EXPECT_EQ(idle, (QJsonObject{{QStringLiteral("claimed"), false}, {QStringLiteral("expired"), true}}));
    const auto late = server.claim(idleTicket.value(QStringLiteral("pair_code")).toString(), QStringLiteral("Mia"));
    EXPECT_TRUE(!late.ok() && late.error().contains(QStringLiteral("410")));
    // Past its code's expiry a claimed setup still hands out its session, never "expired".
    const auto claimed = status(claimedTicket);
    EXPECT_FALSE(claimed.value(QStringLiteral("expired")).toBool());
    EXPECT_FALSE(claimed.value(QStringLiteral("child_session_token")).toString().isEmpty());
}

TEST_F(RefBackendTest, HeartbeatKeepsTheWholeLatestBodyUntilTheDeviceIsRemoved)
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

    ASSERT_TRUE(server.admin({QStringLiteral("remove-device"), device.deviceId}).ok());
    EXPECT_EQ(http.post(path, heartbeatBody(true)).status, 404);
    EXPECT_EQ(http.get(QStringLiteral("/api/guard/my-installed-apps"), device.token).status, 401);
}

TEST_F(RefBackendTest, SeenAppsCountOnlyAppsNewToTheChild)
{
    const auto laptop = pairDevice(server, http, QStringLiteral("Mia"));
    const auto desktop = pairDevice(server, http, QStringLiteral("Mia"));
    ASSERT_TRUE(laptop.error.isEmpty() && desktop.error.isEmpty());
    const auto apps = [](const QStringList &ids) {
        QJsonArray a;
        for (const auto &id : ids)
            a.append(QJsonObject{{QStringLiteral("bundle_id"), id}, {QStringLiteral("app_name"), id.toUpper()}});
        return a;
    };
    const struct {
        const PairedDevice *device;
        QStringList apps;
        int expectedNew;
    } cases[] = {
        {&laptop, {QStringLiteral("firefox-esr"), QStringLiteral("gedit"), QStringLiteral("firefox-esr")}, 2},
        {&laptop, {QStringLiteral("gedit"), QStringLiteral("vlc")}, 1},
        {&desktop, {QStringLiteral("vlc"), QStringLiteral("gimp")}, 1},  // same child, other device
        {&laptop, {}, 0},
    };
    for (const auto &c : cases) {
        const auto answer = http.post(
            QStringLiteral("/api/guard/desktop-apps-seen"),
            QJsonObject{{QStringLiteral("device_id"), c.device->deviceId}, {QStringLiteral("apps"), apps(c.apps)}},
            c.device->token);
        EXPECT_EQ(answer.json().value(QStringLiteral("new")).toInt(-1), c.expectedNew) << answer.body.toStdString();
    }
    EXPECT_EQ(deviceEntry(laptop.deviceId).value(QStringLiteral("seen_apps")).toArray().size(), 3);
}

TEST_F(RefBackendTest, InstalledAppsFollowTheParentsChoiceForThatChildOnly)
{
    const auto mia = pairDevice(server, http, QStringLiteral("Mia"));
    const auto noah = pairDevice(server, http, QStringLiteral("Noah"));
    ASSERT_TRUE(mia.error.isEmpty() && noah.error.isEmpty());
    EXPECT_EQ(appsOf(mia), QJsonArray());
    const auto setApps = [&](const QStringList &arguments) {
        return server.admin(QStringList{QStringLiteral("set-apps"), QStringLiteral("--child"), QStringLiteral("Mia")} +
                            arguments);
    };
    ASSERT_TRUE(setApps({QStringLiteral("--unblocked"), QStringLiteral("linux:gedit"), QStringLiteral("--"),
                         QStringLiteral("linux:firefox-esr"), QStringLiteral("web:example.com")})
                    .ok());
    const auto entry = [](const char *id, bool blocked) {
        return QJsonObject{{QStringLiteral("package_id"), QLatin1String(id)}, {QStringLiteral("is_blocked"), blocked}};
    };
    EXPECT_EQ(appsOf(mia), (QJsonArray{entry("linux:firefox-esr", true), entry("web:example.com", true),
                                       entry("linux:gedit", false)}));
    EXPECT_EQ(appsOf(noah), QJsonArray());
    // Setting again replaces the whole list.
    ASSERT_TRUE(setApps({QStringLiteral("--"), QStringLiteral("web:example.org")}).ok());
    EXPECT_EQ(appsOf(mia), QJsonArray{entry("web:example.org", true)});
}

TEST_F(RefBackendTest, GuardedRoutesRefuseMissingOrWrongTokens)
{
    const auto device = pairDevice(server, http, QStringLiteral("Mia"));
    const auto other = pairDevice(server, http, QStringLiteral("Noah"));
    ASSERT_TRUE(device.error.isEmpty() && other.error.isEmpty());
    const QByteArray usage =
        QJsonDocument(usageBody(device.deviceId, dayObject(QStringLiteral("2026-12-05"), {}))).toJson();
    const QByteArray token = device.token.toUtf8();
    const struct {
        QByteArray method;
        const char *path;
        QByteArray authorization;
        int expected;
    } cases[] = {
        {"GET", "/api/guard/my-installed-apps", {}, 401},
        {"GET", "/api/guard/my-installed-apps", "Bearer ", 401},
        {"POST", "/api/guard/heartbeat", "Bearer wrong-token", 401},
        {"POST", "/api/guard/desktop-apps-seen", "Basic " + token, 401},
        {"POST", "/api/guard/heartbeat", token, 401},
        // One child's token cannot write usage for another device.
        {"POST", "/api/guard/heartbeat", "Bearer " + other.token.toUtf8(), 403},
        {"GET", "/api/guard/my-installed-apps", "bearer " + token, 200},  // the scheme is case-insensitive
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path + (" with " + c.authorization.toStdString()));
        QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "application/json"}};
        if (!c.authorization.isEmpty())
            headers.append({"Authorization", c.authorization});
        const auto answer =
            http.send(c.method, QLatin1String(c.path), c.method == "POST" ? usage : QByteArray(), headers);
        EXPECT_EQ(answer.status, c.expected);
        EXPECT_EQ(answer.json().value(QStringLiteral("error")).toString().isEmpty(), c.expected == 200);
    }
}

TEST_F(RefBackendTest, DataOutlivesARestartOnTheSameDatabase)
{
    const auto device = pairDevice(server, http, QStringLiteral("Mia"));
    ASSERT_TRUE(device.error.isEmpty());
    RefBackendProcess second({QStringLiteral("--db"), server.databasePath()});
    ASSERT_TRUE(second.ok()) << second.error().toStdString();
    EXPECT_EQ(HttpProbe(second.baseUrl()).get(QStringLiteral("/api/guard/my-installed-apps"), device.token).status,
              200);
    for (auto *process : {&second, &server})
        EXPECT_TRUE(process->stop().ok());
}

}  // namespace
