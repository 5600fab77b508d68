#include "inventory/SeenAppsReporter.h"
#include "platform/RealClock.h"
#include "platform/VirtualClock.h"
#include "tests/fakes/FakeAppCatalog.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QCoroTask>

using namespace fennimar;
using fennimar::test::FakeAppCatalog;
using fennimar::test::LoopbackHttpServer;

namespace {

const QString seenPath = QStringLiteral("/api/guard/desktop-apps-seen");

SeenApp app(const char *id, const char *name, std::optional<QString> category = std::nullopt)
{
    return {QString::fromUtf8(id), QString::fromUtf8(name), std::move(category)};
}

class SeenAppsReporterTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("reported-apps.json"));
    VirtualClock clock;
    RealClock requestClock;  // the client's time limits, so that a lost answer fails in seconds
    LoopbackHttpServer server;
    FakeAppCatalog catalog;
    PairedIdentity identity{
        QStringLiteral("dev-1"), QStringLiteral("child-1"), QStringLiteral("Kim"), QStringLiteral("token-1"), {}};

    void SetUp() override
    {
        ASSERT_TRUE(server.isListening());
        server.respond(seenPath, LoopbackHttpServer::Response::json(R"({"recorded":2,"new":1,"skipped_system":0})"));
        catalog.installed = {app("org.example.Editor", "Editor", QStringLiteral("public.app-category.productivity")),
                             app("org.example.Notes", "Notes")};
    }

    std::unique_ptr<SeenAppsReporter> reporter()
    {
        return std::make_unique<SeenAppsReporter>(
            BackendClient::create(server.baseUrl(), requestClock, BackendClient::Limits{Millis(2000), Millis(5000)}),
            identity, catalog, clock, path);
    }

    // Runs one flush to its end and returns what it logged.
    std::string flush(SeenAppsReporter &r)
    {
        ::testing::internal::CaptureStderr();
        QCoro::waitFor(r.flush());
        return ::testing::internal::GetCapturedStderr();
    }

    void writeState(const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QJsonObject stateObject() const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }
    QStringList sentIds(std::size_t request) const
    {
        QStringList ids;
        const auto requests = server.requestsTo(seenPath);
        for (const QJsonValue &v : requests.at(request).json().value(QLatin1String("apps")).toArray())
            ids << v.toObject().value(QLatin1String("bundle_id")).toString();
        return ids;
    }
};

TEST_F(SeenAppsReporterTest, FirstRunSendsEveryInstalledAppOnceAndRemembersThem)
{
    auto r = reporter();
    ::testing::internal::CaptureStderr();
    r->seedFromInstalledApps();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("inventory seed \u00b7 2 app(s) found, 2 new to report"),
              std::string::npos);

    EXPECT_NE(flush(*r).find("apps reported \u00b7 2 sent, 1 new to the parent"), std::string::npos);
    ASSERT_EQ(server.requestsTo(seenPath).size(), 1u);
    EXPECT_EQ(sentIds(0), (QStringList{QStringLiteral("org.example.Editor"), QStringLiteral("org.example.Notes")}));
    EXPECT_TRUE(r->pending().empty());
    EXPECT_EQ(r->totalReported(), 2);
    const QJsonObject expected{
        {QStringLiteral("org.example.Editor"), QStringLiteral("Editor|public.app-category.productivity")},
        {QStringLiteral("org.example.Notes"), QStringLiteral("Notes|")}};
    EXPECT_EQ(stateObject(), expected);

    // A restart with nothing changed sends nothing.
    auto again = reporter();
    ::testing::internal::CaptureStderr();
    again->seedFromInstalledApps();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("2 app(s) found, 0 new to report"), std::string::npos);
    EXPECT_EQ(flush(*again), "");
    EXPECT_EQ(server.requestsTo(seenPath).size(), 1u);

    // A category that appears makes the app new again.
    again->note(app("org.example.Notes", "Notes", QStringLiteral("public.app-category.productivity")));
    EXPECT_EQ(again->pending().size(), 1u);
}

TEST_F(SeenAppsReporterTest, TheFirstPendingVersionIsTheOneSent)
{
    auto r = reporter();
    r->note(app("org.example.Game", "Game"));
    r->note(app("org.example.Game", "Game Deluxe"));
    flush(*r);
    EXPECT_EQ(r->reported().at(QStringLiteral("org.example.Game")), QStringLiteral("Game|"));
    // The renamed app is new to the backend now that the first version was accepted.
    r->note(app("org.example.Game", "Game Deluxe"));
    EXPECT_EQ(r->pending().size(), 1u);
}

TEST_F(SeenAppsReporterTest, StateFileFormsAndDamage)
{
    struct Case {
        const char *label;
        QByteArray content;
        qint64 loaded;
        bool movedAside;
    };
    const Case cases[] = {
        {"object", R"({"org.example.Notes":"Notes|","org.example.Editor":"Old|"})", 2, false},
        {"older array", R"(["org.example.Notes","org.example.Notes","org.example.Editor"])", 2, false},
        {"not JSON", "{\"org.example", 0, true},
        {"a signature that is not a string", R"({"org.example.Notes":1})", 0, true},
        {"an array of other things", R"(["org.example.Notes",3])", 0, true},
        {"a bare string", R"("x")", 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(f));
        writeState(c.content);
        ::testing::internal::CaptureStderr();
        auto r = reporter();
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(r->totalReported(), c.loaded);
        const QStringList aside =
            QDir(dir.path()).entryList(QStringList{QStringLiteral("reported-apps-unreadable-*.json")}, QDir::Files);
        EXPECT_EQ(aside.size(), c.movedAside ? 1 : 0);
        EXPECT_EQ(log.find("reported apps unreadable") != std::string::npos, c.movedAside);

        r->seedFromInstalledApps();
        flush(*r);
        // Whatever the old form, the file is rewritten as the object of what the backend holds.
        EXPECT_EQ(stateObject().value(QLatin1String("org.example.Editor")).toString(),
                  QStringLiteral("Editor|public.app-category.productivity"));
        EXPECT_EQ(stateObject().value(QLatin1String("org.example.Notes")).toString(), QStringLiteral("Notes|"));
    }
    // Object form with Notes unchanged sent only Editor; every other form sent both.
    EXPECT_EQ(sentIds(0), QStringList{QStringLiteral("org.example.Editor")});
    EXPECT_EQ(sentIds(1).size(), 2);
}

TEST_F(SeenAppsReporterTest, AFailedReportKeepsEverythingForTheNextFlush)
{
    auto r = reporter();
    r->seedFromInstalledApps();
    server.respondOnce(seenPath, LoopbackHttpServer::Response::text(500, "boom"));
    EXPECT_NE(flush(*r).find("apps-seen report failed \u00b7 Server returned 500: boom"), std::string::npos);
    EXPECT_EQ(r->lastError(), QStringLiteral("Server returned 500: boom"));
    EXPECT_EQ(r->pending().size(), 2u);
    EXPECT_FALSE(QFile::exists(path));

    r->note(app("org.example.Paint", "Paint"));
    flush(*r);
    EXPECT_EQ(sentIds(1).size(), 3);
    EXPECT_EQ(r->lastError(), std::nullopt);
    EXPECT_TRUE(r->pending().empty());
}

TEST_F(SeenAppsReporterTest, AppsNotedDuringTheRequestAreClearedWithIt)
{
    LoopbackHttpServer::Response slow = LoopbackHttpServer::Response::json(R"({"new":0})");
    slow.delay = std::chrono::milliseconds(100);
    server.respond(seenPath, slow);
    auto r = reporter();
    r->note(app("org.example.Editor", "Editor"));
    auto task = r->flush();
    r->note(app("org.example.Late", "Late"));
    QCoro::waitFor(std::move(task));
    EXPECT_TRUE(r->pending().empty());
    EXPECT_FALSE(r->reported().count(QStringLiteral("org.example.Late")));
    r->note(app("org.example.Late", "Late"));
    EXPECT_EQ(r->pending().size(), 1u);
}

TEST_F(SeenAppsReporterTest, AReporterDroppedDuringTheRequestIsLeftAlone)
{
    LoopbackHttpServer::Response slow = LoopbackHttpServer::Response::json(R"({"new":0})");
    slow.delay = std::chrono::milliseconds(50);
    server.respond(seenPath, slow);
    auto r = reporter();
    r->note(app("org.example.Editor", "Editor"));
    auto task = r->flush();
    r.reset();
    QCoro::waitFor(std::move(task));
    EXPECT_FALSE(QFile::exists(path));
}

}  // namespace
