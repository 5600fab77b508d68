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
    auto list = std::make_unique<MonitoredApps>(BackendClient::create(server.baseUrl(), requestClock),
                                                QStringLiteral("token-1"), QStringLiteral("dev-1"), clock);
    const QString editor = platform::appPrefix() + QStringLiteral("org.example.Editor");
    server.respondOnce(
        listPath, LoopbackHttpServer::Response::json(QStringLiteral(R"({"apps":[{"package_id":"%1","is_blocked":true},
        {"package_id":"web:Example.COM","is_blocked":true}, {"package_id":"%1.Free","is_blocked":false}]})")
                                                         .arg(editor)
                                                         .toUtf8()));
    test::LogCapture log;
    QCoro::waitFor(list->refresh());
    EXPECT_TRUE(log.lines().contains(QStringLiteral("INFO ] monitored · 1 app(s), 1 site(s)")));
    EXPECT_EQ(list->domains(), QSet<QString>{QStringLiteral("example.com")});
    EXPECT_EQ(server.requestsTo(listPath).at(0).query, QStringLiteral("device_id=dev-1"));

    // A failed refresh keeps the list; a list dropped while its request is out is left alone.
    LoopbackHttpServer::Response failed = LoopbackHttpServer::Response::text(503, "maintenance");
    failed.delay = std::chrono::milliseconds(50);
    server.respond(listPath, failed);
    QCoro::waitFor(list->refresh());
    EXPECT_EQ(list->lastError(), QStringLiteral("Server returned 503: maintenance"));
    EXPECT_EQ(list->bundleIds(), QSet<QString>{editor});
    auto task = list->refresh();
    list.reset();
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
        {"HTTPS://A.B.EXAMPLE.COM/", true},
        {"https://example.com.:443/", true},
        {"https://badexample.com/", false},
        {"https://example.com.evil.net/", false},
        // A "www." domain covers only the hosts below it; the visited "www." goes once.
        {"https://games.org/", false},
        {"https://www.games.org/", false},
        {"https://www.www.games.org/", true},
        {"https://shop.bücher.de/", true},
        {"https://xn--bcher-kva.de/", true},
        {"https://ignored.net/", false}};
    for (const auto &[url, monitored] : cases)
        EXPECT_EQ(list.isMonitored(QString::fromUtf8(url)), monitored) << url;
}

}  // namespace
