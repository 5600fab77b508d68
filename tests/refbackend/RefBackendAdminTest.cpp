#include "tests/refbackend/HttpProbe.h"
#include "tests/support/RefBackendProcess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace fennimar::test;

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

QFileDevice::Permissions otherThanOwner(const QString &path)
{
    return QFile::permissions(path) &
           ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
}

// Left running on a shared machine, the server must give nothing to another local user or to a
// page in the child's browser: no secret in its log or files, a ticket's session handed out once,
// and admin routes that want the owner's token, this server's own Host and a JSON body type.
TEST(RefBackendSafety, AnotherLocalUserOrAWebPageGetsNothing)
{
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("old.sqlite"));
    QFile old(existing);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();
    QFile::setPermissions(existing, QFile::permissions(existing) | QFileDevice::ReadOther | QFileDevice::ReadGroup);
    RefBackendProcess server({QStringLiteral("--db"), existing});
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    HttpProbe http(server.baseUrl());

    const auto ticket = http.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()).json();
    const QString token = ticket.value(QStringLiteral("token")).toString();
    const QString status = QStringLiteral("/api/devices/setup-status/") + token;
    ASSERT_EQ(http.get(status).status, 200);
    ASSERT_TRUE(server.claim(ticket.value(QStringLiteral("pair_code")).toString(), QStringLiteral("Mia")).ok());
    EXPECT_FALSE(http.get(status).json().value(QStringLiteral("child_session_token")).toString().isEmpty());
    EXPECT_EQ(http.get(status).json(),
              (QJsonObject{{QStringLiteral("claimed"), true}, {QStringLiteral("expired"), true}}));
    EXPECT_FALSE(server.log().contains(token)) << server.log().toStdString();

    for (const QString &path : {existing, existing + QStringLiteral("-wal"), server.adminTokenPath()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_TRUE(QFile::exists(path));
        EXPECT_EQ(otherThanOwner(path), QFileDevice::Permissions());
    }

    const QByteArray admin = server.adminToken().toLatin1();
    ASSERT_GE(admin.size(), 40);
    const QByteArray port = QByteArray::number(server.port());
    const QByteArray json = "application/json", bearer = "Bearer " + admin;
    const QByteArray apps = R"({"child":"Mia","apps":[{"package_id":"linux:gedit","is_blocked":true}]})";
    struct Case {
        const char *name;
        QByteArray method;
        QString path;
        QByteArray host;  // empty: the one Qt derives from the URL
        QByteArray authorization;
        QByteArray contentType;
        int expected;
    } cases[] = {
        {"no token", "GET", QStringLiteral("/admin/devices"), {}, {}, {}, 401},
        {"wrong token", "GET", QStringLiteral("/admin/devices"), {}, "Bearer " + admin.left(40), {}, 401},
        {"rebound host name", "GET", QStringLiteral("/admin/devices"), "evil.example:" + port, bearer, {}, 403},
        {"other port", "GET", QStringLiteral("/admin/devices"), "127.0.0.1:1", bearer, {}, 403},
        {"form post", "POST", QStringLiteral("/admin/apps"), {}, bearer, "application/x-www-form-urlencoded", 415},
        {"delete without a type", "DELETE", QStringLiteral("/admin/faults"), {}, bearer, {}, 415},
        {"page, rebound host", "GET", QStringLiteral("/?token=") + admin, "evil.example:" + port, {}, {}, 403},
        {"page", "GET", QStringLiteral("/?token=") + admin, {}, {}, {}, 200},
        {"localhost", "GET", QStringLiteral("/admin/devices"), "localhost:" + port, bearer, {}, 200},
        {"all in order", "POST", QStringLiteral("/admin/apps"), {}, bearer, json, 200},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Headers headers;
        for (const auto &[name, value] : {std::pair{"Host", c.host}, std::pair{"Authorization", c.authorization},
                                          std::pair{"Content-Type", c.contentType}})
            if (!value.isEmpty())
                headers.append({name, value});
        const auto answer = http.send(c.method, c.path, c.method == "POST" ? apps : QByteArray(), headers);
        EXPECT_EQ(answer.status, c.expected) << answer.body.toStdString();
    }
}

// Days newest first with their totals, the parent's list, and a device's own text shown as text.
TEST(RefBackendOverview, HoldsWhatTheAgentSentAndThePageShowsItAsText)
{
    RefBackendProcess server;
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    HttpProbe http(server.baseUrl());
    const auto ticket = http.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()).json();
    const auto claim = server.claim(ticket.value(QStringLiteral("pair_code")).toString(), QStringLiteral("Mia"),
                                    QStringLiteral("<b>Mia & Noah</b>"));
    ASSERT_TRUE(claim.ok()) << claim.error().toStdString();
    const QString deviceId = claim->value(QStringLiteral("device_id")).toString();
    ASSERT_TRUE(server
                    .admin({QStringLiteral("set-apps"), QStringLiteral("--child"), QStringLiteral("Mia"),
                            QStringLiteral("--unblocked"), QStringLiteral("web:example.com"), QStringLiteral("--"),
                            QStringLiteral("linux:debian-xterm")})
                    .ok());
    const auto body = usageBody(deviceId, dayObject(QStringLiteral("2026-12-06"), {0, 30}),
                                QJsonArray{dayObject(QStringLiteral("2026-12-04"), {20, 1800}),
                                           dayObject(QStringLiteral("2026-12-05"), {9, 900, 10, 60})});
    ASSERT_EQ(http.post(QStringLiteral("/api/guard/heartbeat"), body,
                        claim->value(QStringLiteral("child_session_token")).toString())
                  .status,
              200);

    const auto overview = server.admin({QStringLiteral("overview")});
    ASSERT_TRUE(overview.ok()) << overview.error().toStdString();
    const QJsonObject d =
        QJsonDocument::fromJson(*overview).object().value(QStringLiteral("devices")).toArray().at(0).toObject();
    QStringList days;
    for (const auto &day : d.value(QStringLiteral("days")).toArray())
        days << day[QStringLiteral("date")].toString() + u'=' +
                    QString::number(day[QStringLiteral("total_seconds")].toInt());
    EXPECT_EQ(days, (QStringList{QStringLiteral("2026-12-06=30"), QStringLiteral("2026-12-05=960"),
                                 QStringLiteral("2026-12-04=1800")}));
    const auto entry = [](const char *id, bool blocked) {
        return QJsonObject{{QStringLiteral("package_id"), QLatin1String(id)}, {QStringLiteral("is_blocked"), blocked}};
    };
    EXPECT_EQ(d.value(QStringLiteral("monitored")),
              (QJsonArray{entry("linux:debian-xterm", true), entry("web:example.com", false)}));

    const auto page = http.get(QStringLiteral("/?token=") + server.adminToken());
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains(R"(data-hour="9" data-seconds="900")"));
    EXPECT_TRUE(page.body.contains("&lt;b&gt;Mia &amp; Noah&lt;/b&gt;"));
    EXPECT_FALSE(page.body.contains("<b>Mia"));
}

}  // namespace
