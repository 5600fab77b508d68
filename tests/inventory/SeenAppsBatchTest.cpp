// Hostile or numerous apps must not stop app reporting: names are capped, requests carry at most
// 100 apps, and a batch the backend refuses is split until the app at fault stands alone.
#include "inventory/SeenAppsReporter.h"
#include "platform/RealClock.h"
#include "platform/VirtualClock.h"
#include "tests/fakes/FakeAppCatalog.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QCoroTask>

using namespace fennimar;
using fennimar::test::FakeAppCatalog;
using fennimar::test::LoopbackHttpServer;
using Response = LoopbackHttpServer::Response;

namespace {

const QString seenPath = QStringLiteral("/api/guard/desktop-apps-seen");

class SeenAppsBatchTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    VirtualClock clock;
    RealClock requestClock;
    LoopbackHttpServer server;
    FakeAppCatalog catalog;
    SeenAppsReporter reporter{
        BackendClient::create(server.baseUrl(), requestClock, BackendClient::Limits{Millis(2000), Millis(5000)}),
        PairedIdentity{"dev-1", "child-1", "Kim", "token-1", {}}, catalog, clock,
        dir.filePath(QStringLiteral("reported-apps.json"))};

    QJsonArray sent(qsizetype request) const
    {
        return server.requestsTo(seenPath).at(request).json().value(QLatin1String("apps")).toArray();
    }
    QStringList sentIds(qsizetype request) const
    {
        QStringList ids;
        for (const QJsonValue &v : sent(request))
            ids << v.toObject().value(QLatin1String("bundle_id")).toString();
        return ids;
    }
};

TEST_F(SeenAppsBatchTest, ManyAppsGoInRequestsOfAHundredWithCappedNames)
{
    server.respond(seenPath, Response::json(R"({"recorded":1,"new":1})"));
    for (int i = 0; i < 150; ++i)
        reporter.note({QStringLiteral("app%1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("App"), std::nullopt});
    reporter.note({QStringLiteral("app999"), QString(512 * 1024, QLatin1Char('x')), QString(4096, QLatin1Char('c'))});
    QCoro::waitFor(reporter.flush());

    ASSERT_EQ(server.requestsTo(seenPath).size(), 2u);
    EXPECT_EQ(sent(0).size(), 100);
    EXPECT_EQ(sent(1).size(), 51);
    const QJsonObject hostile = sent(1).last().toObject();
    EXPECT_EQ(hostile.value(QLatin1String("app_name")).toString().size(), 256);
    EXPECT_EQ(hostile.value(QLatin1String("category")).toString().size(), 128);
    EXPECT_TRUE(reporter.pending().empty());
}

TEST_F(SeenAppsBatchTest, ARefusedBatchIsSplitAndTheAppAtFaultSetAside)
{
    for (const char *id : {"a", "b", "c", "d", "e"})
        reporter.note({QString::fromLatin1(id), QStringLiteral("App"), std::nullopt});
    // "c" is refused whenever it is sent; the answers follow the halving.
    for (int code : {413, 200, 422, 413, 200})
        server.respondOnce(seenPath, code == 200 ? Response::json(R"({"new":1})") : Response::text(code, "too big"));
    ::testing::internal::CaptureStderr();
    QCoro::waitFor(reporter.flush());
    const std::string log = ::testing::internal::GetCapturedStderr();

    const std::vector<QStringList> expected = {
        {"a", "b", "c", "d", "e"}, {"a", "b"}, {"c", "d", "e"}, {"c"}, {"d", "e"}};
    ASSERT_EQ(server.requestsTo(seenPath).size(), expected.size());
    for (qsizetype i = 0; i < qsizetype(expected.size()); ++i)
        EXPECT_EQ(sentIds(i), expected[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(reporter.reported().size(), 4u);
    EXPECT_EQ(reporter.refused(), QSet<QString>{"c"});
    EXPECT_TRUE(reporter.pending().empty());
    EXPECT_FALSE(reporter.lastError());
    EXPECT_NE(log.find("WARN ] app set aside · c · refused by the backend · Server returned 413: too big"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("INFO ] apps reported · 4 sent, 2 new to the parent"), std::string::npos) << log;

    // Seen again later, the refused app is not offered again.
    reporter.note({QStringLiteral("c"), QStringLiteral("App"), std::nullopt});
    EXPECT_TRUE(reporter.pending().empty());
}

}  // namespace
