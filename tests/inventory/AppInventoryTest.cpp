#include "inventory/AppInventory.h"
#include "tests/fakes/FakeAppCatalog.h"

#include <gtest/gtest.h>

using namespace fennimar;
using fennimar::test::FakeAppCatalog;

namespace {

std::optional<QString> str(const char *s)
{
    return s ? std::optional<QString>(QString::fromUtf8(s)) : std::nullopt;
}

struct EntryCase {
    const char *label;
    AppInventory::Entry entry;
    std::optional<SeenApp> expected;
};

TEST(AppInventory, DescribesAnInstalledEntry)
{
    const QString id = QStringLiteral("org.example.Editor");
    const QString file = QStringLiteral("Example.app");
    const EntryCase cases[] = {
        {"display name wins",
         {id, str("Editor Pro"), str("Editor"), file, str("public.app-category.productivity")},
         SeenApp{id, QStringLiteral("Editor Pro"), QStringLiteral("public.app-category.productivity")}},
        {"empty display name is kept", {id, str(""), str("Editor"), file, std::nullopt}, SeenApp{id, QString(), {}}},
        {"bundle name next",
         {id, std::nullopt, str(" Editor "), file, std::nullopt},
         SeenApp{id, QStringLiteral(" Editor "), {}}},
        {"file name without its extension",
         {id, std::nullopt, std::nullopt, QStringLiteral("My.Tool.app"), std::nullopt},
         SeenApp{id, QStringLiteral("My.Tool"), {}}},
        {"category trimmed",
         {id, str("E"), {}, file, str(" \tpublic.app-category.games\n")},
         SeenApp{id, QStringLiteral("E"), QStringLiteral("public.app-category.games")}},
        {"blank category absent", {id, str("E"), {}, file, str(" \n\t ")}, SeenApp{id, QStringLiteral("E"), {}}},
        {"no identifier", {QString(), str("E"), {}, file, std::nullopt}, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AppInventory::describe(c.entry), c.expected) << c.label;
}

TEST(AppInventory, DescribesARunningAppWithItsInstalledCategory)
{
    FakeAppCatalog catalog;
    catalog.described.insert(QStringLiteral("org.example.Game"),
                             SeenApp{QStringLiteral("org.example.Game"), QStringLiteral("Installed name"),
                                     QStringLiteral("  public.app-category.games ")});
    const RunningApp game{QStringLiteral("org.example.Game"), 10, QStringLiteral("Game"), {}};
    const RunningApp nameless{QStringLiteral("org.example.Game"), 10, QString(), {}};
    const RunningApp unknown{QStringLiteral("org.example.Other"), 11, QStringLiteral("Other"), {}};
    const RunningApp anonymous{QString(), 12, QStringLiteral("xterm"), {}};

    EXPECT_EQ(AppInventory::describe(catalog, game),
              (SeenApp{QStringLiteral("org.example.Game"), QStringLiteral("Game"),
                       QStringLiteral("public.app-category.games")}));
    EXPECT_EQ(AppInventory::describe(catalog, nameless)->name, QStringLiteral("org.example.Game"));
    EXPECT_EQ(AppInventory::describe(catalog, unknown),
              (SeenApp{QStringLiteral("org.example.Other"), QStringLiteral("Other"), {}}));
    EXPECT_EQ(AppInventory::describe(catalog, anonymous), std::nullopt);
}

std::vector<QString> namesOf(const std::vector<SeenApp> &apps)
{
    std::vector<QString> names;
    for (const auto &a : apps)
        names.push_back(a.name);
    return names;
}

SeenApp app(const char *id, const char *name, const char *category = nullptr)
{
    return {QString::fromUtf8(id), QString::fromUtf8(name), str(category)};
}

TEST(AppInventory, InstalledAppsAreUniqueAndSortedByScalarValues)
{
    struct Case {
        const char *label;
        std::vector<SeenApp> catalog;
        std::vector<QString> names;
    };
    const QString composed = QString::fromUtf8("\u00e9tude"), decomposed = QString::fromUtf8("e\u0301tude");
    const Case cases[] = {
        {"case-sensitive",
         {app("a", "zeta"), app("b", "Alpha"), app("c", "beta")},
         {QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("zeta")}},
        {"upper case first", {app("a", "apple"), app("b", "Zed")}, {QStringLiteral("Zed"), QStringLiteral("apple")}},
        {"no numeric order",
         {app("a", "Tool 10"), app("b", "Tool 9")},
         {QStringLiteral("Tool 10"), QStringLiteral("Tool 9")}},
        // U+FF21 sorts before U+1F600 by scalar value, though its UTF-16 unit is larger than a surrogate.
        {"scalar values, not UTF-16 units",
         {app("a", "\U0001F600"), app("b", "\uFF21")},
         {QString::fromUtf8("\uFF21"), QString::fromUtf8("\U0001F600")}},
        // Canonically equal names compare equal, so the stable sort keeps their order.
        {"canonical composition",
         {app("a", "e\u0301tude"), app("b", "\u00e9tude"), app("c", "f")},
         {QStringLiteral("f"), decomposed, composed}},
        {"later duplicate wins",
         {app("x", "Old"), app("y", "Middle"), app("x", "New")},
         {QStringLiteral("Middle"), QStringLiteral("New")}},
        {"no identifier dropped", {app("", "Ghost"), app("a", "Real")}, {QStringLiteral("Real")}},
    };
    for (const auto &c : cases) {
        FakeAppCatalog catalog;
        catalog.installed = c.catalog;
        EXPECT_EQ(namesOf(AppInventory::installedApps(catalog)), c.names) << c.label;
    }
}

TEST(AppInventory, InstalledCategoriesAreTrimmedOrAbsent)
{
    FakeAppCatalog catalog;
    catalog.installed = {app("a", "A", "  games "), app("b", "B", "   "), app("c", "C")};
    const auto apps = AppInventory::installedApps(catalog);
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0].category, QStringLiteral("games"));
    EXPECT_EQ(apps[1].category, std::nullopt);
    EXPECT_EQ(apps[2].category, std::nullopt);
}

}  // namespace
