#include "inventory/SeenAppsReporter.h"
#include "inventory/AppInventory.h"
#include "core/RealClock.h"
#include "core/VirtualClock.h"
#include "tests/fakes/Fakes.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QCoroTask>

using namespace fennimar;
using fennimar::test::LoopbackHttpServer;
using Response = LoopbackHttpServer::Response;

namespace {

const QString seenPath = QStringLiteral("/api/guard/desktop-apps-seen");

SeenApp app(const char *id, const char *name, const char *category = nullptr)
{
    return {QString::fromUtf8(id), QString::fromUtf8(name),
            category ? std::optional(QString::fromUtf8(category)) : std::nullopt};
}

class SeenAppsReporterTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("reported-apps.json"));
    VirtualClock clock;
    RealClock requestClock;  // the client's time limits, so that a lost answer fails in seconds
    LoopbackHttpServer server;
    test::FakeAppCatalog catalog;
    void SetUp() override
    {
        server.respond(seenPath, Response::json(R"({"recorded":2,"new":1,"skipped_system":0})"));
        catalog.installed = {app("org.example.Editor", "Editor", "productivity"), app("org.example.Notes", "Notes")};
    }
    std::unique_ptr<SeenAppsReporter> reporter()
    {
        return std::make_unique<SeenAppsReporter>(
            BackendClient::create(server.baseUrl(), requestClock, BackendClient::Limits{Millis(2000), Millis(5000)}),
            PairedIdentity{"dev-1", "child-1", "Kim", "token-1", {}}, catalog, clock, path);
    }
    QJsonObject state() const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }
    QJsonArray sent(qsizetype request) const
    {
        return server.requestsTo(seenPath).at(request).json().value(QLatin1String("apps")).toArray();
    }
    QString sentIds(qsizetype request) const  // "a,b"
    {
        QStringList ids;
        for (const QJsonValue &v : sent(request))
            ids << v.toObject().value(QLatin1String("bundle_id")).toString();
        return ids.join(',');
    }
};

// Whatever the file held, apps the backend lacks are sent and the file is rewritten as an object.
TEST_F(SeenAppsReporterTest, StateFileFormsAndDamage)
{
    const struct {
        const char *label;
        QByteArray content;  // empty: no file
        bool movedAside;
        qsizetype sent;
    } cases[] = {
        {"no file", {}, false, 2},
        {"object", R"({"org.example.Notes":"Notes|","org.example.Editor":"Old|"})", false, 1},
        {"older list", R"(["org.example.Notes","org.example.Notes","org.example.Editor"])", false, 2},
        {"not JSON", "{\"org.example", true, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        for (const QString &f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(f));
        QFile f(path);
        ASSERT_TRUE(c.content.isEmpty() || (f.open(QIODevice::WriteOnly) && f.write(c.content) > 0 && f.flush()));
        test::LogCapture log;
        auto r = reporter();
        EXPECT_EQ(r->totalReported(), c.content.isEmpty() || c.movedAside ? 0 : 2);
        EXPECT_EQ(QDir(dir.path()).entryList({"reported-apps-unreadable-*.json"}).size(), c.movedAside ? 1 : 0);
        EXPECT_EQ(log.text().contains("reported apps unreadable"), c.movedAside);
        const qsizetype before = server.requestsTo(seenPath).size();
        r->seedFromInstalledApps();
        QCoro::waitFor(r->flush());
        EXPECT_EQ(sent(before).size(), c.sent);
        EXPECT_EQ(state(),
                  (QJsonObject{{"org.example.Editor", "Editor|productivity"}, {"org.example.Notes", "Notes|"}}));
    }
}

// A failure not about content (403, 404, 408, 409, 429, 5xx): one request, nothing set aside, kept for the menu;
// the 429's Retry-After (600 s) holds the next request back.
TEST_F(SeenAppsReporterTest, AFailedReportKeepsEverythingForTheNextFlush)
{
    auto r = reporter();
    r->seedFromInstalledApps();
    const QDateTime start = clock.now();
    const int codes[] = {500, 403, 404, 408, 409, 429};
    for (const int code : codes) {
        SCOPED_TRACE(code);
        Response refusal = Response::text(code, "no");
        refusal.headers.append(LoopbackHttpServer::Header("Retry-After", code == 429 ? "600" : "x"));
        server.respondOnce(seenPath, refusal);
        QCoro::waitFor(r->flush());
        EXPECT_EQ(r->lastError().value_or("").contains(QString::number(code)), true);
        EXPECT_EQ(r->failingSince(), start);
        EXPECT_EQ(r->pending().size(), 2u);
        EXPECT_TRUE(r->refused().isEmpty());
        clock.advance(std::chrono::minutes(5));
    }
    QCoro::waitFor(r->flush());
    EXPECT_EQ(server.requestsTo(seenPath).size(), std::size(codes));
    clock.advance(std::chrono::minutes(5));
    EXPECT_FALSE(QFile::exists(path));
    r->note(app("org.example.Paint", "Paint"));
    QCoro::waitFor(r->flush());
    EXPECT_EQ(sent(6).size(), 3);
    EXPECT_EQ(r->lastError(), std::nullopt);
    EXPECT_EQ(r->failingSince(), std::nullopt);
    EXPECT_EQ(state().value("org.example.Notes"), "Notes|");
    // A category that appears, or a new name, makes the app new again; the first version noted is sent.
    r->note(app("org.example.Notes", "Notes", "productivity"));
    r->note(app("org.example.Notes", "Notes Deluxe"));
    EXPECT_EQ(r->pending().size(), 1u);
    QCoro::waitFor(r->flush());
    EXPECT_EQ(state().value("org.example.Notes"), "Notes|productivity");
    // A reporter dropped while its request is out is left alone when the answer comes: nothing saved.
    r->note(app("org.example.Late", "Late"));
    auto task = r->flush();
    r.reset();
    QCoro::waitFor(std::move(task));
    EXPECT_EQ(sent(8).size(), 1);
    EXPECT_FALSE(state().contains("org.example.Late"));
}

// Numerous or hostile apps: names capped, at most 100 apps per request.
TEST_F(SeenAppsReporterTest, ManyAppsGoInRequestsOfAHundredWithCappedNames)
{
    auto r = reporter();
    for (int i = 0; i < 150; ++i)
        r->note({QStringLiteral("app%1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("App"), std::nullopt});
    r->note({QStringLiteral("app999"), QString(512 * 1024, QLatin1Char('x')), QString(4096, QLatin1Char('c'))});
    QCoro::waitFor(r->flush());
    ASSERT_EQ(server.requestsTo(seenPath).size(), 2u);
    EXPECT_EQ(sent(0).size(), 100);
    EXPECT_EQ(sent(1).size(), 51);
    EXPECT_EQ(sent(1).last().toObject().value("app_name").toString().size(), 256);
    EXPECT_EQ(sent(1).last().toObject().value("category").toString().size(), 128);
}

TEST_F(SeenAppsReporterTest, ARefusedBatchIsSplitAndTheAppAtFaultSetAside)
{
    auto r = reporter();
    for (const char *id : {"a", "b", "c", "d", "e"})
        r->note(app(id, "App"));
    for (int code : {413, 200, 422, 413, 200})  // "c" is refused whenever it is sent
        server.respondOnce(seenPath, code == 200 ? Response::json(R"({"new":1})") : Response::text(code, "too big"));
    test::LogCapture log;
    QCoro::waitFor(r->flush());
    const QStringList expected = {"a,b,c,d,e", "a,b", "c,d,e", "c", "d,e"};
    ASSERT_EQ(server.requestsTo(seenPath).size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_EQ(sentIds(i), expected[i]);
    EXPECT_TRUE(
        log.lines().contains("WARN ] app set aside · c · refused by the backend · Server returned 413: too big"));
    EXPECT_TRUE(log.lines().contains("INFO ] apps reported · 4 sent, 2 new to the parent"));
    r->note(app("c", "App"));  // seen again later, the refused app is not offered again
    EXPECT_TRUE(r->pending().empty());
}

TEST(AppInventory, DescribesAnInstalledEntryAndARunningApp)
{
    const QString id = QStringLiteral("x"), file = QStringLiteral("Example.app");
    using str = std::optional<QString>;
    const struct {
        const char *label;
        AppInventory::Entry entry;
        std::optional<SeenApp> expected;
    } cases[] = {
        {"display name wins", {id, str("Pro"), str("Editor"), file, str("games")}, app("x", "Pro", "games")},
        {"bundle name next", {id, {}, str(" Editor "), file, {}}, app("x", " Editor ")},
        {"file name without extension", {id, {}, {}, QStringLiteral("My.Tool.app"), {}}, app("x", "My.Tool")},
        {"category trimmed", {id, str("E"), {}, file, str(" \tgames\n")}, app("x", "E", "games")},
        {"no identifier", {QString(), str("E"), {}, file, {}}, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AppInventory::describe(c.entry), c.expected) << c.label;
    test::FakeAppCatalog catalog;
    catalog.described.insert(QStringLiteral("game"), app("game", "Installed name", "  games "));
    EXPECT_EQ(AppInventory::describe(catalog, {QStringLiteral("game"), 10, QStringLiteral("Game"), {}}),
              app("game", "Game", "games"));
    EXPECT_EQ(AppInventory::describe(catalog, {QStringLiteral("other"), 11, QStringLiteral("O"), {}}),
              app("other", "O"));
}

TEST(AppInventory, InstalledAppsAreUniqueAndSortedByScalarValues)
{
    const QString composed = QString::fromUtf8("\u00e9tude"), decomposed = QString::fromUtf8("e\u0301tude");
    const struct {
        const char *label;
        std::vector<SeenApp> catalog;
        QStringList names;
    } cases[] = {
        {"upper case first", {app("b", "beta"), app("c", "Zed"), app("a", "Alpha")}, {"Alpha", "Zed", "beta"}},
        // U+FF21 sorts before U+1F600 by scalar value, though its UTF-16 unit is larger than a surrogate.
        {"scalar values, not UTF-16 units", {app("a", "\U0001F600"), app("b", "\uFF21")}, {"\uFF21", "\U0001F600"}},
        // Canonically equal names compare equal, so the stable sort keeps their order.
        {"canonical", {app("a", "e\u0301tude"), app("b", "\u00e9tude"), app("c", "f")}, {"f", decomposed, composed}},
        {"later duplicate wins", {app("x", "Old"), app("y", "Middle"), app("x", "New")}, {"Middle", "New"}},
    };
    for (const auto &c : cases) {
        test::FakeAppCatalog catalog;
        catalog.installed = c.catalog;
        QStringList names;
        for (const SeenApp &a : AppInventory::installedApps(catalog))
            names << a.name;
        EXPECT_EQ(names, c.names) << c.label;
    }
}

}  // namespace
