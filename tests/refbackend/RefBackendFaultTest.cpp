#include "tests/refbackend/HttpProbe.h"
#include "tests/support/RefBackendProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace fennimar::test;

namespace {

class RefBackendFaultTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ok()) << server.error().toStdString(); }

    int deviceCount()
    {
        const auto all = server.devices();
        return all.ok() ? static_cast<int>(all->size()) : -1;
    }

    RefBackendProcess server;
    HttpProbe http{server.baseUrl()};
};

// Reads from a raw socket until the server closes it or the time runs out.
QByteArray readUntilClosed(QTcpSocket &socket, int ms)
{
    QByteArray all;
    const QDeadlineTimer deadline(ms);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(50);
        all += socket.readAll();
    }
    return all + socket.readAll();
}

// Each row: the admin "fault" command's options after --route and --kind, then what a fresh client sees.
TEST_F(RefBackendFaultTest, EachFaultKindShowsForItsCountOnItsRouteThenTheRouteIsNormalAgain)
{
    const auto fault = [&](const QString &route, const QString &kind, const QStringList &more = {}) {
        return server.admin(
            QStringList{QStringLiteral("fault"), QStringLiteral("--route"), route, QStringLiteral("--kind"), kind} +
            more);
    };
    const struct {
        const char *kind;
        QStringList options;
        std::function<void(const HttpAnswer &)> check;
        bool acts;  // whether the request still creates its device
    } cases[] = {
        {"status",
         {QStringLiteral("--status"), QStringLiteral("503"), QStringLiteral("--body"), QStringLiteral("down")},
         [](const HttpAnswer &a) {
             EXPECT_EQ(a.status, 503);
             EXPECT_EQ(a.body, "down");
         },
         false},
        {"malformed", {}, [](const HttpAnswer &a) { EXPECT_TRUE(QJsonDocument::fromJson(a.body).isNull()); }, false},
        {"oversized",
         {QStringLiteral("--size"), QStringLiteral("3145728")},
         [](const HttpAnswer &a) { EXPECT_EQ(a.body.size(), 3 * 1024 * 1024); },
         false},
        // QNetworkAccessManager sends a request again when the connection closes before any answer
        // (once here, measured): three drops make sure the failure reaches the caller.
        {"drop",
         {QStringLiteral("--count"), QStringLiteral("3")},
         [](const HttpAnswer &a) { EXPECT_EQ(a.error, QNetworkReply::RemoteHostClosedError); },
         false},
        {"redirect",
         {QStringLiteral("--status"), QStringLiteral("307"), QStringLiteral("--location"),
          QStringLiteral("http://127.0.0.1:9/elsewhere")},
         [](const HttpAnswer &a) { EXPECT_EQ(a.header("Location"), "http://127.0.0.1:9/elsewhere"); },
         false},
        {"delay",
         {QStringLiteral("--delay-ms"), QStringLiteral("400")},
         [](const HttpAnswer &a) {
             EXPECT_EQ(a.status, 201);
             EXPECT_GE(a.elapsedMs, 400);
         },
         true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        ASSERT_TRUE(fault(QStringLiteral("setup-pending"), QLatin1String(c.kind), c.options).ok());
        const int before = deviceCount();
        // A fresh client each time, so that no connection state carries over from one case to the next.
        HttpProbe fresh(server.baseUrl());
        c.check(fresh.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()));
        EXPECT_EQ(deviceCount(), before + (c.acts ? 1 : 0));
        ASSERT_TRUE(server.admin({QStringLiteral("fault"), QStringLiteral("--clear")}).ok());
        EXPECT_EQ(fresh.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()).status, 201);
    }

    const auto device = pairDevice(server, http, QStringLiteral("Mia"));
    ASSERT_TRUE(device.error.isEmpty());
    ASSERT_TRUE(fault(QStringLiteral("installed-apps"), QStringLiteral("status"),
                      {QStringLiteral("--count"), QStringLiteral("2")})
                    .ok());
    const QString apps = QStringLiteral("/api/guard/my-installed-apps");
    EXPECT_EQ(http.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()).status, 201);
    for (int expected : {500, 500, 200})
        EXPECT_EQ(http.get(apps, device.token).status, expected);
    for (const auto &[route, kind, option, value] :
         {std::tuple{"nowhere", "status", "--count", "1"}, std::tuple{"usage", "explode", "--count", "1"},
          std::tuple{"usage", "status", "--status", "700"}, std::tuple{"usage", "redirect", "--status", "200"},
          std::tuple{"usage", "status", "--count", "0"}})
        EXPECT_FALSE(
            fault(QLatin1String(route), QLatin1String(kind), {QLatin1String(option), QLatin1String(value)}).ok())
            << route << " " << kind << " " << option << " " << value;
    // Held-back answers, cut connections and large bodies leave nothing behind at exit.
    EXPECT_TRUE(server.stop().ok());
}

TEST_F(RefBackendFaultTest, BodiesOfTheWrongSizeShapeOrTypeAreRefusedWithAReason)
{
    const auto device = pairDevice(server, http, QStringLiteral("Mia"));
    ASSERT_TRUE(device.error.isEmpty());
    const auto withDay = [&](const char *key, const QJsonValue &value) {
        QJsonObject day = dayObject(QStringLiteral("2026-12-05"), {9, 600});
        day.insert(QLatin1String(key), value);
        return QJsonDocument(usageBody(device.deviceId, day)).toJson();
    };
    QJsonObject numericFacts = pendingBody();
    numericFacts.insert(QStringLiteral("platform_info"), QJsonObject{{QStringLiteral("brand"), 7}});
    QJsonArray twentyThree;
    for (int i = 0; i < 23; ++i)
        twentyThree.append(0);
    QJsonArray overfull = twentyThree;
    overfull.append(3601);
    const QByteArray usage = "/api/guard/heartbeat";
    const QByteArray pending = "/api/devices/setup-pending";
    const QByteArray seen = "/api/guard/desktop-apps-seen";
    // An exactly 1 MiB body is read (and refused for its content); one byte more is not read at all.
    const QByteArray mebibyte = "{}" + QByteArray(1024 * 1024 - 2, ' ');

    struct Case {
        QByteArray path;
        QByteArray body;
        int status;
        const char *reasonMentions;
    } cases[] = {
        {pending, "{\"device_type\": ", 400, "not valid JSON"},
        {pending, "[]", 400, "JSON object"},
        {pending, QJsonDocument(numericFacts).toJson(), 400, "platform_info.brand"},
        {pending, mebibyte, 400, "device_type"},
        {pending, mebibyte + ' ', 413, "larger than"},
        {usage, withDay("total_seconds", 601), 400, "add up to 600"},
        {usage, withDay("buckets", twentyThree), 400, "24 hours"},
        {usage, withDay("date", QStringLiteral("2026-02-30")), 400, "yyyy-MM-dd"},
        {usage, withDay("computed_at_ms", 1.5), 400, "computed_at_ms"},
        {usage, withDay("bucket_seconds", 60), 400, "3600"},
        {usage, withDay("tz_offset_minutes", 1200), 400, "between -1080 and 1080"},
        {usage, withDay("buckets", overfull), 400, "0 to 3600 seconds"},
        {seen,
         QJsonDocument(QJsonObject{{QStringLiteral("device_id"), device.deviceId}, {QStringLiteral("apps"), 3}})
             .toJson(),
         400, "\"apps\" must be an array"},
        {seen,
         QJsonDocument(QJsonObject{{QStringLiteral("device_id"), device.deviceId},
                                   {QStringLiteral("apps"),
                                    QJsonArray{QJsonObject{{QStringLiteral("bundle_id"), QStringLiteral("x")},
                                                           {QStringLiteral("app_name"), QStringLiteral("X")},
                                                           {QStringLiteral("category"), QJsonValue::Null}}}}})
             .toJson(),
         400, "category"},
    };
    for (const auto &c : cases) {
        const auto answer = http.post(QString::fromLatin1(c.path), c.body, device.token);
        EXPECT_EQ(answer.status, c.status) << c.path.toStdString() << ": " << answer.body.left(200).toStdString();
        EXPECT_TRUE(answer.json().value(QStringLiteral("error")).toString().contains(QLatin1String(c.reasonMentions)))
            << answer.body.left(200).toStdString();
    }
    EXPECT_EQ(http.post(QString::fromLatin1(pending), QJsonDocument(pendingBody()).toJson(), {}, "text/plain").status,
              415);
    EXPECT_EQ(http.get(QString::fromLatin1(pending)).status, 405);
    EXPECT_EQ(http.get(QStringLiteral("/api/nowhere")).status, 404);
}

TEST_F(RefBackendFaultTest, AnswersOnOneConnectionKeepRequestOrderAndHonourConnectionClose)
{
    ASSERT_TRUE(server
                    .admin({QStringLiteral("fault"), QStringLiteral("--route"), QStringLiteral("setup-status"),
                            QStringLiteral("--kind"), QStringLiteral("delay"), QStringLiteral("--delay-ms"),
                            QStringLiteral("300")})
                    .ok());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    // Two pipelined requests: the first is held back, the second is answered at once by its route,
    // yet the answers must leave in request order. The last asks the server to close.
    socket.write(
        "GET /api/devices/setup-status/first HTTP/1.1\r\nHost: x\r\n\r\n"
        "GET /api/nowhere HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const QByteArray all = readUntilClosed(socket, 10000);
    EXPECT_EQ(socket.state(), QAbstractSocket::UnconnectedState) << "the server kept the connection open";
    const qsizetype first = all.indexOf("unknown setup token"), second = all.indexOf("no such route");
    ASSERT_GE(first, 0) << all.toStdString();
    ASSERT_GE(second, 0) << all.toStdString();
    EXPECT_LT(first, second);
    EXPECT_TRUE(all.contains("Connection: close"));
}

TEST(RefBackendProcessOptions, ANonLoopbackAddressNeedsAllowRemote)
{
    QProcess refused;
    refused.start(RefBackendProcess::executablePath(), {QStringLiteral("--address"), QStringLiteral("0.0.0.0")});
    ASSERT_TRUE(refused.waitForFinished(20000));
    EXPECT_EQ(refused.exitCode(), 78);
    EXPECT_TRUE(refused.readAllStandardError().contains("not a loopback address"));
    EXPECT_TRUE(refused.readAllStandardOutput().isEmpty());

    RefBackendProcess allowed(
        {QStringLiteral("--address"), QStringLiteral("0.0.0.0"), QStringLiteral("--allow-remote")});
    ASSERT_TRUE(allowed.ok()) << allowed.error().toStdString();
    EXPECT_EQ(allowed.baseUrl().host(), QStringLiteral("0.0.0.0"));
    EXPECT_NE(allowed.port(), 0);
}

}  // namespace
