#include "tests/refbackend/HttpProbe.h"
#include "tests/support/RefBackendProcess.h"

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
    // Two pipelined requests: the first is held back, the second is answered at once by its route,
    // yet the answers must leave in request order. The last asks the server to close.
    const QByteArray all = exchange(server.port(),
                                    "GET /api/devices/setup-status/first HTTP/1.1\r\nHost: x\r\n\r\n"
                                    "GET /api/nowhere HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const qsizetype first = all.indexOf("unknown setup token"), second = all.indexOf("no such route");
    ASSERT_GE(first, 0) << all.toStdString();
    EXPECT_GT(second, first) << all.toStdString();
    EXPECT_TRUE(all.contains("Connection: close"));
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
