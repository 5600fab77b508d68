// How requests fail: statuses, empty and unreadable answers, limits, cancellation, redirects, cookies.
#include "platform/RealClock.h"
#include "tests/backend/BackendTestSupport.h"

namespace fennimar::test {
namespace {

using FailureTest = LoopbackClientTest;
using Kind = ClientError::Kind;

struct StatusCase {
    int status;
    QByteArray body;
    bool ok;
    QString description;  // when not ok
};

class StatusTest : public LoopbackClientTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusTest, OnlyTwoHundredsSucceed)
{
    const StatusCase &c = GetParam();
    server.respond("/api/devices/d/heartbeat", Response::text(c.status, c.body));
    const auto result = finish(client.heartbeat("d", true, true, system));
    ASSERT_EQ(result.ok(), c.ok) << c.status;
    if (c.ok) {
        EXPECT_EQ(result.value(), c.body);
        return;
    }
    EXPECT_EQ(result.error().kind, Kind::Status);
    EXPECT_EQ(result.error().code, c.status);
    EXPECT_EQ(result.error().description(), c.description);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, StatusTest,
    ::testing::Values(StatusCase{199, "", false, "Server returned 199: "}, StatusCase{200, "fine", true, {}},
                      StatusCase{299, "", true, {}}, StatusCase{300, "choose", false, "Server returned 300: choose"},
                      StatusCase{404, "gone", false, "Not found (404) — the device may have been removed"},
                      StatusCase{500, "oops", false, "Server returned 500: oops"},
                      StatusCase{502, "\xff\xfe bad", false, "Server returned 502: "},
                      StatusCase{503, QByteArray(1000, 'x'), false, "Server returned 503: " + QString(400, 'x')},
                      // A character cut in two at byte 400 is left out, not the whole text.
                      StatusCase{500, QByteArray(399, 'y') + "\xc3\xa9", false,
                                 "Server returned 500: " + QString(399, 'y')}));

TEST_F(FailureTest, EmptyTwoHundredIsFineForRawAnswersAndUnreadableForRecords)
{
    for (const char *path :
         {"/api/devices/setup-pending", "/api/devices/setup-status/t", "/api/guard/heartbeat",
          "/api/guard/my-installed-apps", "/api/guard/desktop-apps-seen", "/api/devices/d/heartbeat"})
        server.respond(path, Response::json({}));
    EXPECT_TRUE(finish(client.heartbeat("d", true, true, system)).ok());
    EXPECT_TRUE(finish(client.reportUsage("tok", "d", DayRecord{}, {}, system)).ok());
    const QString reason = ": the body is empty";
    EXPECT_EQ(finish(client.requestPairing(system)).error().description(), "Could not read PairingTicket" + reason);
    EXPECT_EQ(finish(client.setupStatus("t")).error().description(), "Could not read SetupStatus" + reason);
    EXPECT_EQ(finish(client.monitoredPackages("tok", "d")).error().description(),
              "Could not read InstalledAppsResponse" + reason);
    EXPECT_EQ(finish(client.reportAppsSeen("tok", "d", {})).error().description(),
              "Could not read AppsSeenResponse" + reason);
}

TEST_F(FailureTest, TransportErrorsNameTheLimitThatFired)
{
    RealClock realClock;
    const auto limited = BackendClient::create(server.baseUrl(), realClock, {Millis(300), Millis(1000), 1 << 20});
    Response silent = Response::text(200, "late");
    silent.delay = std::chrono::seconds(3);
    server.respond("/api/devices/silent/heartbeat", silent);
    Response trickle = Response::text(200, QByteArray(100, 't'));
    trickle.trickleBytes = 1;
    trickle.trickleInterval = std::chrono::milliseconds(100);
    server.respond("/api/devices/trickle/heartbeat", trickle);

    const auto stalled = finish(limited.heartbeat("silent", true, true, system));
    ASSERT_FALSE(stalled.ok());
    EXPECT_EQ(stalled.error().description(), "Request timed out: no data for 300 ms");
    const auto slow = finish(limited.heartbeat("trickle", true, true, system));
    ASSERT_FALSE(slow.ok());
    EXPECT_EQ(slow.error().description(), "Request timed out: not finished within 1 s");
}

TEST_F(FailureTest, LimitsAreTimedByTheInjectedClock)
{
    Response silent = Response::text(200, "late");
    silent.delay = std::chrono::seconds(10);
    server.respond("/api/devices/d/heartbeat", silent);
    auto task = client.heartbeat("d", true, true, system);
    ASSERT_TRUE(server.waitForRequests(1));
    clock.advance(Millis(19999));
    EXPECT_FALSE(task.isReady());
    clock.advance(Millis(1));
    EXPECT_EQ(finish(std::move(task)).error().description(), "Request timed out: no data for 20 s");
}

TEST_F(FailureTest, CancellingEndsTheRequestAndAnAlreadyCancelledOneSendsNothing)
{
    Response silent = Response::text(200, "late");
    silent.delay = std::chrono::seconds(10);
    server.respond("/api/devices/d/heartbeat", silent);
    CancelToken token;
    auto task = client.heartbeat("d", true, true, system, token);
    ASSERT_TRUE(server.waitForRequests(1));
    token.cancel();
    const auto result = finish(std::move(task));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().description(), "Request cancelled");

    const auto again = finish(client.heartbeat("d", true, true, system, token));
    EXPECT_EQ(again.error().description(), "Request cancelled");
    EXPECT_EQ(server.requests().size(), 1u);
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
    Response huge = Response::text(200, "short");
    huge.claimedLength = 8 * 1024 * 1024 + 1;
    server.respond("/api/devices/huge/heartbeat", huge);
    EXPECT_EQ(finish(client.heartbeat("huge", true, true, system)).error().description(),
              "Response refused: larger than 8 MiB");
}

TEST_F(FailureTest, ASuccessCutShortIsAFailure)
{
    Response cut = Response::json(R"({"token":"t","pair_code":"C","device_id":"d","expires_at":"x"})");
    cut.closeAfterBytes = 10;
    server.respond("/api/devices/setup-pending", cut);
    const auto result = finish(client.requestPairing(system));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, Kind::Transport);
}

TEST_F(FailureTest, TheSessionTokenAppearsInNoErrorText)
{
    server.respond("/api/guard/my-installed-apps", Response::text(401, "token s3cr3t-token is not valid"));
    const auto refused = finish(client.monitoredPackages("s3cr3t-token", "d"));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description(), "Server returned 401: token <token> is not valid");

    QTcpServer closed;  // a port that nothing answers on once closed
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QUrl gone(QStringLiteral("http://127.0.0.1:%1/s3cr3t-token").arg(closed.serverPort()));
    closed.close();
    const auto unreachable = finish(BackendClient::create(gone, clock).monitoredPackages("s3cr3t-token", "d"));
    ASSERT_FALSE(unreachable.ok());
    EXPECT_EQ(unreachable.error().kind, Kind::Transport);
    EXPECT_FALSE(unreachable.error().description().isEmpty());
    EXPECT_FALSE(unreachable.error().description().contains("s3cr3t-token"));
}

TEST_F(FailureTest, RedirectsAreFollowedOnlyWithinTheOrigin)
{
    LoopbackHttpServer elsewhere;
    server.respond("/api/guard/my-installed-apps",
                   Response::redirect(307, server.baseUrl().resolved(QUrl("/moved/my-installed-apps"))));
    server.respond("/moved/my-installed-apps", Response::json(R"({"apps":[]})"));
    server.respond("/api/guard/desktop-apps-seen",
                   Response::redirect(307, elsewhere.baseUrl().resolved(QUrl("/api/guard/desktop-apps-seen"))));

    const auto moved = finish(client.monitoredPackages("tok", "d"));
    ASSERT_TRUE(moved.ok()) << moved.error().description().toStdString();
    ASSERT_EQ(server.requestsTo("/moved/my-installed-apps").size(), 1u);
    EXPECT_EQ(server.requestsTo("/moved/my-installed-apps")[0].header("Authorization"), "Bearer tok");

    const auto away = finish(client.reportAppsSeen("tok", "d", {}));
    ASSERT_FALSE(away.ok());
    EXPECT_EQ(away.error().description(), "Redirect to another origin refused: " + elsewhere.baseUrl().toString());
    EXPECT_TRUE(elsewhere.requests().empty());
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

TEST_F(FailureTest, CookiesAreNeitherKeptNorSent)
{
    Response withCookie = Response::json({});
    withCookie.headers.push_back({"Set-Cookie", "session=abc; Path=/"});
    server.respond("/api/devices/d/heartbeat", withCookie);
    ASSERT_TRUE(finish(client.heartbeat("d", true, true, system)).ok());
    ASSERT_TRUE(finish(client.heartbeat("d", true, true, system)).ok());
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_FALSE(server.requests()[1].header("Cookie"));
}

}  // namespace
}  // namespace fennimar::test
