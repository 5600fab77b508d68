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

TEST_F(RefBackendFaultTest, BodiesOfTheWrongSizeShapeOrTypeAreRefusedWithAReason)
{
    const auto ticket = http.post(QStringLiteral("/api/devices/setup-pending"), pendingBody()).json();
    const auto device = server.claim(ticket.value(QStringLiteral("pair_code")).toString(), QStringLiteral("Mia"));
    ASSERT_TRUE(device.ok()) << device.error().toStdString();
    const QString deviceId = device->value(QStringLiteral("device_id")).toString();
    const auto withDay = [&](const char *key, const QJsonValue &value) {
        QJsonObject day = dayObject(QStringLiteral("2026-12-05"), {9, 600});
        day.insert(QLatin1String(key), value);
        return QJsonDocument(usageBody(deviceId, day)).toJson();
    };
    QJsonArray overfull;
    for (int i = 0; i < 23; ++i)
        overfull.append(0);
    overfull.append(3601);
    const QByteArray usage = "/api/guard/heartbeat";
    const QByteArray pending = "/api/devices/setup-pending";
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
        {pending, mebibyte, 400, "device_type"},
        {pending, mebibyte + ' ', 413, "larger than"},
        {usage, withDay("total_seconds", 601), 400, "add up to 600"},
        {usage, withDay("computed_at_ms", 1.5), 400, "computed_at_ms"},
        {usage, withDay("tz_offset_minutes", 1200), 400, "between -1080 and 1080"},
        {usage, withDay("buckets", overfull), 400, "0 to 3600 seconds"},
    };
    for (const auto &c : cases) {
        const auto answer = http.post(QString::fromLatin1(c.path), c.body,
                                      device->value(QStringLiteral("child_session_token")).toString());
        EXPECT_EQ(answer.status, c.status) << c.path.toStdString() << ": " << answer.body.left(200).toStdString();
        EXPECT_TRUE(answer.json().value(QStringLiteral("error")).toString().contains(QLatin1String(c.reasonMentions)))
            << answer.body.left(200).toStdString();
    }
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
