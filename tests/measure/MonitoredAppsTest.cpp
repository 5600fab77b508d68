#include "measure/MonitoredApps.h"
#include "platform/PlatformConstants.h"
#include "platform/RealClock.h"
#include "platform/VirtualClock.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackHttpServer.h"

#include <gtest/gtest.h>

#include <QCoroTask>

using namespace fennimar;
using fennimar::test::LoopbackHttpServer;

namespace {

const QString listPath = QStringLiteral("/api/guard/my-installed-apps");

TEST(MonitoredApps, ARefreshReplacesTheListAndAFailedOneKeepsIt)
{
    VirtualClock clock;
    RealClock requestClock;  // the client's time limits, so that a lost answer fails in seconds
    LoopbackHttpServer server;
    MonitoredApps list(
        BackendClient::create(server.baseUrl(), requestClock, BackendClient::Limits{Millis(2000), Millis(5000)}),
        QStringLiteral("token-1"), QStringLiteral("dev-1"), clock);
    const QString editor = platform::appPrefix() + QStringLiteral("org.example.Editor");
    // Only restricted apps with this platform's prefix or "web:" are selected by the client.
    server.respondOnce(listPath, LoopbackHttpServer::Response::json(QStringLiteral(R"({"apps":[
        {"package_id":"%1","is_blocked":true}, {"package_id":"web:Example.COM","is_blocked":true},
        {"package_id":"other:com.example.Other","is_blocked":true}, {"package_id":"%1.Free","is_blocked":false},
        {"is_blocked":true}, {"package_id":"web:","is_blocked":true},
        {"package_id":"web:example.com","is_blocked":true}]})")
                                                                        .arg(editor)
                                                                        .toUtf8()));
    test::LogCapture log;
    QCoro::waitFor(list.refresh());
    EXPECT_TRUE(log.lines().contains(QStringLiteral("INFO ] monitored · 1 app(s), 1 site(s)")));
    EXPECT_EQ(list.bundleIds(), QSet<QString>{editor});
    EXPECT_EQ(list.domains(), QSet<QString>{QStringLiteral("example.com")});
    EXPECT_EQ(list.lastFetch(), clock.now());
    EXPECT_EQ(server.requestsTo(listPath).at(0).query, QStringLiteral("device_id=dev-1"));

    clock.advance(Millis(60000));
    server.respondOnce(listPath, LoopbackHttpServer::Response::text(503, "maintenance"));
    QCoro::waitFor(list.refresh());
    EXPECT_TRUE(log.lines().contains(
        QStringLiteral("WARN ] monitored apps refresh failed · Server returned 503: maintenance")));
    EXPECT_EQ(list.bundleIds(), QSet<QString>{editor});
    EXPECT_EQ(list.lastFetch(), clock.now().addSecs(-60));
    EXPECT_EQ(list.lastError(), QStringLiteral("Server returned 503: maintenance"));

    // A list dropped while its request is out is left alone when the answer comes.
    LoopbackHttpServer::Response slow = LoopbackHttpServer::Response::json(R"({"apps":[]})");
    slow.delay = std::chrono::milliseconds(50);
    server.respond(listPath, slow);
    auto own = std::make_unique<MonitoredApps>(BackendClient::create(server.baseUrl(), requestClock),
                                               QStringLiteral("t"), QString(), clock);
    auto task = own->refresh();
    own.reset();
    QCoro::waitFor(std::move(task));
}

TEST(MonitoredApps, ADomainCoversItselfAndItsSubdomainsOnly)
{
    VirtualClock clock;
    MonitoredApps list(BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock), {}, {}, clock);
    list.apply({QStringLiteral("web:example.com"), QStringLiteral("web:www.games.org"),
                QStringLiteral("web:XN--BCHER-KVA.de"), platform::appPrefix() + QStringLiteral("web:ignored.net")});
    const std::pair<const char *, bool> cases[] = {
        {"https://example.com/", true},
        {"video.example.com/watch", true},
        {"https://a.b.c.example.com", true},
        {"HTTPS://EXAMPLE.COM/", true},
        {"https://example.com.:443/", true},
        {"https://badexample.com/", false},
        {"https://example.com.evil.net/", false},
        {"https://example.co/", false},
        {"example", false},
        {"https://exa mple.com/", false},
        // A "www." domain covers only the hosts below it; the visited "www." goes once.
        {"https://games.org/", false},
        {"https://www.games.org/", false},
        {"https://www.www.games.org/", true},
        {"https://play.www.games.org/", true},
        {"https://shop.bücher.de/", true},
        {"https://xn--bcher-kva.de/", true},
        {"https://ignored.net/", false}};
    for (const auto &[url, monitored] : cases)
        EXPECT_EQ(list.isMonitored(QString::fromUtf8(url)), monitored) << url;
}

}  // namespace
