#include "measure/MonitoredApps.h"
#include "platform/RealClock.h"
#include "platform/VirtualClock.h"
#include "tests/support/LoopbackHttpServer.h"

#include <gtest/gtest.h>

#include <QCoroTask>

using namespace fennimar;
using fennimar::test::LoopbackHttpServer;

namespace {

const QString listPath = QStringLiteral("/api/guard/my-installed-apps");

QSet<QString> set(std::initializer_list<const char *> items)
{
    QSet<QString> s;
    for (const char *i : items)
        s.insert(QString::fromUtf8(i));
    return s;
}

// The client's time limits run on a real clock, so that a request that never ends fails the test in
// seconds instead of hanging it.
BackendClient client(const QUrl &url, RealClock &clock)
{
    return BackendClient::create(url, clock, BackendClient::Limits{Millis(2000), Millis(5000)});
}

class MonitoredAppsTest : public ::testing::Test {
protected:
    VirtualClock clock;
    RealClock requestClock;
    LoopbackHttpServer server;
    MonitoredApps list{client(server.baseUrl(), requestClock), QStringLiteral("token-1"), QStringLiteral("dev-1"),
                       clock};

    std::string refresh()
    {
        ::testing::internal::CaptureStderr();
        QCoro::waitFor(list.refresh());
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(MonitoredAppsTest, RefreshReplacesBothSetsFromTheSelectedPackages)
{
    // Only restricted apps with this platform's prefix or "web:" are selected by the client.
    server.respond(listPath, LoopbackHttpServer::Response::json(R"({"apps":[
        {"package_id":"linux:org.example.Editor","is_blocked":true},
        {"package_id":"web:Example.COM","is_blocked":true},
        {"package_id":"mac:com.example.Other","is_blocked":true},
        {"package_id":"linux:org.example.Free","is_blocked":false},
        {"is_blocked":true},
        {"package_id":"web:","is_blocked":true},
        {"package_id":"web:example.com","is_blocked":true}]})"));
    EXPECT_NE(refresh().find("monitored \u00b7 1 app(s), 1 site(s)"), std::string::npos);
    EXPECT_EQ(list.bundleIds(), set({"linux:org.example.Editor"}));
    EXPECT_EQ(list.domains(), set({"example.com"}));
    EXPECT_EQ(list.lastFetch(), clock.now());
    EXPECT_EQ(list.lastError(), std::nullopt);
    ASSERT_EQ(server.requestsTo(listPath).size(), 1u);
    EXPECT_EQ(server.requestsTo(listPath)[0].query, QStringLiteral("device_id=dev-1"));
}

TEST_F(MonitoredAppsTest, AFailedRefreshKeepsTheLastGoodList)
{
    server.respondOnce(listPath, LoopbackHttpServer::Response::json(
                                     R"({"apps":[{"package_id":"linux:org.example.Editor","is_blocked":true}]})"));
    refresh();
    const auto fetched = list.lastFetch();
    clock.advance(Millis(60000));

    server.respondOnce(listPath, LoopbackHttpServer::Response::text(503, "maintenance"));
    EXPECT_NE(refresh().find("monitored apps refresh failed \u00b7 Server returned 503: maintenance"),
              std::string::npos);
    EXPECT_EQ(list.bundleIds(), set({"linux:org.example.Editor"}));
    EXPECT_EQ(list.lastFetch(), fetched);
    EXPECT_EQ(list.lastError(), QStringLiteral("Server returned 503: maintenance"));

    server.respondOnce(listPath, LoopbackHttpServer::Response::json(R"({"apps":[]})"));
    refresh();
    EXPECT_TRUE(list.bundleIds().isEmpty());
    EXPECT_EQ(list.lastError(), std::nullopt);
}

TEST_F(MonitoredAppsTest, AListDroppedDuringTheRequestIsLeftAlone)
{
    LoopbackHttpServer::Response slow = LoopbackHttpServer::Response::json(R"({"apps":[]})");
    slow.delay = std::chrono::milliseconds(50);
    server.respond(listPath, slow);
    auto own =
        std::make_unique<MonitoredApps>(client(server.baseUrl(), requestClock), QStringLiteral("t"), QString(), clock);
    auto task = own->refresh();
    own.reset();
    QCoro::waitFor(std::move(task));
    SUCCEED();
}

struct MatchCase {
    const char *url;
    bool monitored;
};

class Matching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(Matching, ADomainCoversItselfAndItsSubdomainsOnly)
{
    VirtualClock clock;
    MonitoredApps list(BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock), {}, {}, clock);
    list.apply({QStringLiteral("web:example.com"), QStringLiteral("web:www.games.org"),
                QStringLiteral("web:XN--BCHER-KVA.de"), QStringLiteral("linux:web:ignored.net")});
    EXPECT_EQ(list.isMonitored(QString::fromUtf8(GetParam().url)), GetParam().monitored);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, Matching,
    ::testing::Values(MatchCase{"https://example.com/", true}, MatchCase{"video.example.com/watch", true},
                      MatchCase{"https://a.b.c.example.com", true}, MatchCase{"https://www.example.com", true},
                      MatchCase{"HTTPS://EXAMPLE.COM/", true}, MatchCase{"https://example.com.:443/", true},
                      MatchCase{"https://badexample.com/", false}, MatchCase{"https://example.com.evil.net/", false},
                      MatchCase{"https://example.co/", false}, MatchCase{"example", false},
                      MatchCase{"https://exa mple.com/", false},
                      // A "www." domain covers only the hosts below it; the visited "www." goes once.
                      MatchCase{"https://games.org/", false}, MatchCase{"https://www.games.org/", false},
                      MatchCase{"https://www.www.games.org/", true}, MatchCase{"https://play.www.games.org/", true},
                      MatchCase{"https://shop.bücher.de/", true}, MatchCase{"https://xn--bcher-kva.de/", true},
                      MatchCase{"https://ignored.net/", false}));

}  // namespace
