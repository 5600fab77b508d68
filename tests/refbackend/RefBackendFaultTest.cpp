#include "tests/refbackend/HttpProbe.h"
#include "tests/support/RefBackendProcess.h"

#include <QThread>
#include <QFile>

#include <gtest/gtest.h>

using namespace fennimar::test;

namespace {

class RefBackendFaultTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ok()) << server.error().toStdString(); }
    RefBackendProcess server;
};

TEST_F(RefBackendFaultTest, BodiesOfTheWrongSizeShapeOrTypeAreRefusedWithAReason)
{
    const auto ticket = post(server.port(), "/api/devices/setup-pending", kPendingBody).json();
    const auto device = server.claim(ticket.value("pair_code").toString(), "Mia");
    ASSERT_TRUE(device.ok()) << device.error().toStdString();
    const auto withDay = [&](const char *key, const QJsonValue &value) {
        QJsonObject today = day("2026-12-05", 9, 600);
        today.insert(QLatin1String(key), value);
        return usageBody(device->value("device_id").toString(), today);
    };
    const QByteArray usage = "/api/guard/heartbeat", pending = "/api/devices/setup-pending";
    // An exactly 1 MiB body is read (and refused for its content); one byte more is not read at all.
    const QByteArray mebibyte = "{}" + QByteArray(1024 * 1024 - 2, ' ');
    const struct {
        QByteArray target, body;
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
        {usage, withDay("buckets", day("", 23, 3601)["buckets"]), 400, "0 to 3600 seconds"},
    };
    for (const auto &c : cases) {
        const auto answer = post(server.port(), c.target, c.body, device->value("child_session_token").toString());
        EXPECT_EQ(answer.status, c.status) << c.target.toStdString() << ": " << answer.body.left(200).toStdString();
        EXPECT_TRUE(answer.json().value("error").toString().contains(QLatin1String(c.reasonMentions)))
            << answer.body.left(200).toStdString();
    }
}

TEST_F(RefBackendFaultTest, AnswersOnOneConnectionKeepRequestOrderAndHonourConnectionClose)
{
    ASSERT_TRUE(server.admin({"fault", "--route", "setup-status", "--kind", "delay", "--delay-ms", "300"}).ok());
    // Two pipelined requests, the first held back: the answers leave in order; the last asks to close.
    const QByteArray all = drain(*open(server.port(),
                                       "GET /api/devices/setup-status/first HTTP/1.1\r\nHost: x\r\n\r\n"
                                       "GET /api/nowhere HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"),
                                 15000);
    const qsizetype first = all.indexOf("unknown setup token"), second = all.indexOf("no such route");
    ASSERT_GE(first, 0) << all.toStdString();
    EXPECT_GT(second, first) << all.toStdString();
    EXPECT_TRUE(all.contains("Connection: close"));
}

// A slow, silent, malformed or idle client is answered and closed: none holds a connection for ever.
TEST(RefBackendLimits, SlowSilentMalformedAndIdleConnectionsAreClosed)
{
    RefBackendProcess server({"--request-timeout", "1", "--keep-alive", "1"});
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    const struct {
        const char *name;
        QByteArray sent, answer;
    } cases[] = {
        {"bare LF line endings", "GET / HTTP/1.1\nHost: x\n\n", "HTTP/1.1 400 "},
        {"head never finished", "GET / HTTP/1.1\r\nHost", "HTTP/1.1 408 "},
        {"nothing sent", "", "HTTP/1.1 408 "},
        {"idle after an answer", "GET /api/nowhere HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray all = drain(*open(server.port(), c.sent), 4000);
        EXPECT_TRUE(all.startsWith(c.answer)) << all.toStdString();
        EXPECT_TRUE(all.endsWith("<closed>")) << all.toStdString();
    }
}

// At a cap the longest-waiting connection without a request makes room; when all are owed answers, 503.
TEST(RefBackendLimits, ConnectionCapsPerPeerAndInAllMakeRoomByAge)
{
    RefBackendProcess server({"--max-per-peer", "2", "--max-connections", "3"});
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    ASSERT_TRUE(
        server.admin({"fault", "--route", "setup-status", "--kind", "delay", "--delay-ms", "3000", "--count", "3"})
            .ok());
    const quint16 port = server.port();
    const QByteArray ask = "GET /api/nowhere HTTP/1.1\r\nHost: x\r\n\r\n";
    auto oldest = open(port), slow = open(port, "GET / HTTP/1.1\r\n");
    auto third = open(port, ask);
    EXPECT_TRUE(drain(*third, 1000).startsWith("HTTP/1.1 404 ")) << "the third from one address is answered";
    EXPECT_EQ(drain(*oldest, 1000), "<closed>") << "the oldest from that address made room";
    auto other = open(port, {}, "127.0.0.2"), fourth = open(port, ask, "127.0.0.2");
    EXPECT_TRUE(drain(*fourth, 1000).startsWith("HTTP/1.1 404 "));
    EXPECT_EQ(drain(*slow, 1000), "<closed>") << "the oldest of all made room, not the one from another address";
    std::vector<std::unique_ptr<QTcpSocket>> owed;
    for (const char *from : {"127.0.0.1", "127.0.0.2", "127.0.0.3"})
        owed.push_back(open(port, "GET /api/devices/setup-status/t HTTP/1.1\r\nHost: x\r\n\r\n", from));
    for (const QDeadlineTimer read(5000); server.log().count(QStringLiteral("delayed")) < 3 && !read.hasExpired();)
        QThread::msleep(20);
    EXPECT_TRUE(drain(*open(port, ask, "127.0.0.4"), 1000).startsWith("HTTP/1.1 503 "));
}

// A pipeliner reading no answers is not read further (without it the server grew from 18 MB to 168 MB).
TEST_F(RefBackendFaultTest, AClientThatLeavesItsAnswersUnreadIsNotReadEither)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    // The page (5 KB) asked for 100 000 times: the system's buffers hold at most 7000 of them.
    socket.write(("GET /?token=" + server.adminToken().toLatin1() +
                  " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n\r\n")
                     .repeated(100'000));
    // Until the server stops answering (two seconds without a new answer), however slow the machine.
    qsizetype answered = 0, before = -1;
    for (const QDeadlineTimer deadline(120000); answered != before && answered < 8000 && !deadline.hasExpired();) {
        before = answered;
        for (const QDeadlineTimer quiet(2000); !quiet.hasExpired();)
            socket.waitForBytesWritten(50);
        answered = server.log().count(QLatin1Char('\n'));
    }
    EXPECT_LT(answered, 8000) << "answered";
}

// Pair codes: ten a minute per address, listed apart from devices until they expire, then gone.
TEST(RefBackendSetups, AskingIsRateLimitedAndUnclaimedSetupsAreListedApartUntilTheyExpire)
{
    RefBackendProcess server({"--code-lifetime", "6"});
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    const QDeadlineTimer expired(6500);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(post(server.port(), "/api/devices/setup-pending", kPendingBody).status, 201) << i;
    EXPECT_EQ(post(server.port(), "/api/devices/setup-pending", kPendingBody).status, 429);
    const auto overview = [&] { return QJsonDocument::fromJson(server.admin({"overview"}).value()).object(); };
    EXPECT_EQ(overview()["pending_setups"].toArray().size(), 10);
    EXPECT_EQ(overview()["devices"].toArray().size(), 0);
    const auto page = request(server.port(), "GET", "/?token=" + server.adminToken().toLatin1());
    EXPECT_EQ(page.body.count("kid-pc"), 10) << "listed under codes not claimed";
    QThread::msleep(static_cast<unsigned long>(expired.remainingTime()));
    EXPECT_EQ(overview()["pending_setups"].toArray().size(), 0);
    EXPECT_TRUE(server.admin({"devices"}).value().contains("[]")) << "purged";
}

TEST(RefBackendProcessOptions, ANonLoopbackAddressNeedsAllowRemote)
{
    RefBackendProcess refused({"--address", "0.0.0.0"});
    EXPECT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().contains("not a loopback address")) << refused.error().toStdString();
    RefBackendProcess allowed({"--address", "0.0.0.0", "--allow-remote"});
    ASSERT_TRUE(allowed.ok()) << allowed.error().toStdString();
    EXPECT_EQ(allowed.baseUrl().host(), "0.0.0.0");
}

}  // namespace
