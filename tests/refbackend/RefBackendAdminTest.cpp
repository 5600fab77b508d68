#include "tests/refbackend/HttpProbe.h"
#include "tests/support/RefBackendProcess.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace fennimar::test;

namespace {

// No secret to other users or pages: none logged, a session handed out once, admin needs token, Host, JSON.
TEST(RefBackendSafety, AnotherLocalUserOrAWebPageGetsNothing)
{
    QTemporaryDir dir;
    const QString existing = dir.filePath("old.sqlite");
    ASSERT_TRUE(QFile(existing).open(QIODevice::WriteOnly));
    QFile::setPermissions(existing, QFile::permissions(existing) | QFileDevice::ReadOther | QFileDevice::ReadGroup);
    RefBackendProcess server({"--db", existing});
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    const quint16 port = server.port();
    const auto ticket = post(port, "/api/devices/setup-pending", kPendingBody).json();
    const QByteArray status = "/api/devices/setup-status/" + ticket.value("token").toString().toUtf8();
    ASSERT_EQ(request(port, "GET", status).status, 200);
    ASSERT_TRUE(server.claim(ticket.value("pair_code").toString(), "Mia").ok());
    EXPECT_FALSE(request(port, "GET", status).json().value("child_session_token").toString().isEmpty());
    EXPECT_EQ(request(port, "GET", status).json(), (QJsonObject{{"claimed", true}, {"expired", true}}));
    EXPECT_FALSE(server.log().contains(ticket.value("token").toString())) << server.log().toStdString();
    for (const QString &path : {existing, existing + "-wal", server.adminTokenPath()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_TRUE(QFile::exists(path));
        EXPECT_EQ(QFile::permissions(path) & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadUser | QFileDevice::WriteUser),
                  QFileDevice::Permissions());
    }

    const QByteArray admin = server.adminToken().toLatin1();
    ASSERT_GE(admin.size(), 40);
    const QByteArray bearer = "Authorization: Bearer " + admin + "\r\n", page = "/?token=" + admin;
    const QByteArray rebound = "Host: evil.example:" + QByteArray::number(port) + "\r\n";
    const struct {
        const char *name;
        QByteArray method, target, headers;
        int expected;
    } cases[] = {
        {"no token", "GET", "/admin/devices", {}, 401},
        {"wrong token", "GET", "/admin/devices", "Authorization: Bearer " + admin.left(40) + "\r\n", 401},
        {"rebound host name", "GET", "/admin/devices", rebound + bearer, 403},
        {"other port", "GET", "/admin/devices", "Host: 127.0.0.1:1\r\n" + bearer, 403},
        {"form post", "POST", "/admin/apps", bearer + "Content-Type: application/x-www-form-urlencoded\r\n", 415},
        {"delete without a type", "DELETE", "/admin/faults", bearer, 415},
        {"page, rebound host", "GET", page, rebound, 403},
        {"page", "GET", page, {}, 200},
        {"localhost", "GET", "/admin/devices", "Host: localhost:" + QByteArray::number(port) + "\r\n" + bearer, 200},
        {"all in order", "POST", "/admin/apps", bearer + "Content-Type: application/json\r\n", 200},
    };
    const QByteArray apps = R"({"child":"Mia","apps":[{"package_id":"linux:gedit","is_blocked":true}]})";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto answer = request(port, c.method, c.target, c.method == "POST" ? apps : QByteArray(), c.headers);
        EXPECT_EQ(answer.status, c.expected) << answer.body.toStdString();
    }
}

// Days newest first with the highest totals sent, alerts that a forged beat or a lowered report cannot erase
// until dismissed, the parent's list, and a device's own text shown as text.
TEST(RefBackendOverview, HoldsWhatTheAgentSentAndThePageShowsItAsText)
{
    RefBackendProcess server;
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    const auto ticket = post(server.port(), "/api/devices/setup-pending", kPendingBody).json();
    const auto claim = server.claim(ticket.value("pair_code").toString(), "Mia", "<b>Mia & Noah</b>");
    ASSERT_TRUE(claim.ok()) << claim.error().toStdString();
    ASSERT_TRUE(
        server.admin({"set-apps", "--child", "Mia", "--unblocked", "web:example.com", "--", "linux:debian-xterm"})
            .ok());
    const QString device = claim->value("device_id").toString();
    for (const QByteArray ok : {"false", "true"}) {  // anyone may send the second: a beat carries no credential
        const QByteArray checks = R"({"tamper_evidence":{"ok":)" + ok + "}}";
        ASSERT_EQ(post(server.port(), "/api/devices/" + device.toUtf8() + "/heartbeat",
                       R"({"platform_info":{},"app_build":{},"health_snapshot":{"os":{},"checks":)" + checks + "}}")
                      .status,
                  200);
    }
    for (const int seconds : {960, 100}) {  // then the ledger was lowered
        const auto body =
            usageBody(device, day("2026-12-06", 0, 30), {day("2026-12-04", 20, 1800), day("2026-12-05", 9, seconds)});
        ASSERT_EQ(
            post(server.port(), "/api/guard/heartbeat", body, claim->value("child_session_token").toString()).status,
            200);
    }
    const auto overview = server.admin({"overview"});
    ASSERT_TRUE(overview.ok()) << overview.error().toStdString();
    const QJsonObject d = QJsonDocument::fromJson(*overview)["devices"][0].toObject();
    QStringList days, alerts;
    for (const auto &v : d["days"].toArray())
        days << v.toObject()["date"].toString() + '=' + QString::number(v.toObject()["total_seconds"].toInt());
    EXPECT_EQ(days, (QStringList{"2026-12-06=30", "2026-12-05=960", "2026-12-04=1800"}));
    for (const auto &a : d["alerts"].toArray())
        alerts << a.toObject()["what"].toString();
    EXPECT_EQ(alerts, (QStringList{"check failed: tamper_evidence",
                                   "a report lowered 2026-12-05 09:00 from 960 s to 100 s (960 s kept)"}));
    EXPECT_EQ(d["monitored"], (QJsonArray{QJsonObject{{"package_id", "linux:debian-xterm"}, {"is_blocked", true}},
                                          QJsonObject{{"package_id", "web:example.com"}, {"is_blocked", false}}}));
    const auto page = request(server.port(), "GET", "/?token=" + server.adminToken().toLatin1());
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains(R"(data-hour="9" data-seconds="960")"));
    EXPECT_TRUE(page.body.contains("Needs a look"));
    EXPECT_TRUE(page.body.contains("&lt;b&gt;Mia &amp; Noah&lt;/b&gt;"));
    EXPECT_FALSE(page.body.contains("<b>Mia"));
    const QString first = QString::number(d["alerts"][0]["id"].toInteger());
    EXPECT_TRUE(server.admin({"dismiss", first}).ok());
    EXPECT_FALSE(server.admin({"dismiss", first}).ok());
    EXPECT_EQ(QJsonDocument::fromJson(*server.admin({"overview"}))["devices"][0]["alerts"].toArray().size(), 1);
}

}  // namespace
