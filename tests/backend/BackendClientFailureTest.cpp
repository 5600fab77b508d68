// How requests fail: statuses, limits, redirects, and no session token in any error text.
#include "tests/backend/BackendTestSupport.h"

#include <QTimer>

namespace fennimar::test {
namespace {

using FailureTest = LoopbackClientTest;

TEST_F(FailureTest, OnlyTwoHundredsSucceedAndAFailureNamesTheStatusAndTheStartOfTheBody)
{
    const struct {
        int status;
        QByteArray body;
        QString description;  // empty: succeeds
        QByteArray retryAfter = "soon";
        std::optional<qint64> waitSeconds = std::nullopt;
    } cases[] = {
        {299, "", {}},
        {300, "choose", "Server returned 300: choose", "Sat, 14 Mar 2026 09:10:00 GMT", 600},
        {404, "gone", "Not found (404) — the device may have been removed"},
        {503, QByteArray(1000, 'x'), "Server returned 503: " + QString(400, 'x'), "120", 120},
        {199, "", "Server returned 199: "},  // last: it may move the clock, which a Retry-After date counts from
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        Response answer = Response::text(c.status, c.body);
        answer.headers.append(LoopbackHttpServer::Header("Retry-After", c.retryAfter));
        server.respondOnce("/api/devices/d/heartbeat", answer);
        auto task = client.heartbeat("d", true, true, system);
        QTimer stall;  // a lone 1xx: Qt 6.4 hands it over, Qt 6.8 waits for a final answer until the stall limit
        QObject::connect(&stall, &QTimer::timeout, [this] { clock.advance(Millis(20000)); });
        stall.start(c.status < 200 ? 1000 : 3600 * 1000);
        const auto result = finish(std::move(task));
        const QString said = result.ok() ? QString() : result.error().description();
        EXPECT_EQ(said, c.status < 200 && said == "Request timed out: no data for 20 s" ? said : c.description);
        EXPECT_EQ(result.ok() ? std::nullopt : result.error().retryAfterSeconds, c.waitSeconds);
    }
}

TEST_F(FailureTest, BodiesOverTheLimitAreRefusedWhetherAnnouncedOrNot)
{
    const auto small = BackendClient::create(server.baseUrl(), clock, {Millis(20000), Millis(60000), 1024});
    server.respond("/api/devices/exact/heartbeat", Response::text(200, QByteArray(1024, 'a')));
    Response announced = Response::text(200, "short");
    announced.claimedLength = 2048;
    server.respond("/api/devices/announced/heartbeat", announced);
    Response streamed = Response::text(200, QByteArray(64 * 1024, 'b'));
    streamed.contentLength = false;
    server.respond("/api/devices/streamed/heartbeat", streamed);
    EXPECT_TRUE(finish(small.heartbeat("exact", true, true, system)).ok());
    for (const char *id : {"announced", "streamed"})
        EXPECT_EQ(finish(small.heartbeat(id, true, true, system)).error().description(),
                  "Response refused: larger than 1024 bytes")
            << id;
}

TEST_F(FailureTest, TheSessionTokenAppearsInNoErrorText)
{
    server.respond("/api/guard/my-installed-apps", Response::text(401, "token s3cr3t-token is not valid"));
    EXPECT_EQ(finish(client.monitoredPackages("s3cr3t-token", "d")).error().description(),
              "Server returned 401: token <token> is not valid");
}

TEST(RedirectRule, SameSchemeHostAndPortOnly)
{
    const QUrl from("https://api.example.com/api/guard/heartbeat");
    const std::pair<const char *, bool> cases[] = {
        {"/elsewhere", true},
        {"https://API.example.com:443/x", true},
        {"http://api.example.com/x", false},
        {"https://api.example.com:8443/x", false},
        {"https://evil.example.com/x", false},
        {"//evil.example.com/x", false},
    };
    for (const auto &[to, allowed] : cases)
        EXPECT_EQ(BackendClient::redirectAllowed(from, QUrl(to)), allowed) << to;
}

}  // namespace
}  // namespace fennimar::test
