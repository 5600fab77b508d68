#include "inventory/AppInventory.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

using namespace fennimar;

namespace {

std::optional<QString> str(const char *s)
{
    return s ? std::optional<QString>(QString::fromUtf8(s)) : std::nullopt;
}

SeenApp app(const char *id, const char *name, const char *category = nullptr)
{
    return {QString::fromUtf8(id), QString::fromUtf8(name), str(category)};
}

TEST(AppInventory, DescribesAnInstalledEntryAndARunningApp)
{
    const QString id = QStringLiteral("org.example.Editor"), file = QStringLiteral("Example.app");
    const struct {
        const char *label;
        AppInventory::Entry entry;
        std::optional<SeenApp> expected;
    } cases[] = {
        {"display name wins",
         {id, str("Editor Pro"), str("Editor"), file, str("games")},
         app("org.example.Editor", "Editor Pro", "games")},
        {"bundle name next", {id, {}, str(" Editor "), file, {}}, app("org.example.Editor", " Editor ")},
        {"file name without extension",
         {id, {}, {}, QStringLiteral("My.Tool.app"), {}},
         app("org.example.Editor", "My.Tool")},
        {"category trimmed", {id, str("E"), {}, file, str(" \tgames\n")}, app("org.example.Editor", "E", "games")},
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
        {"case-sensitive, upper case first",
         {app("a", "zeta"), app("b", "Alpha"), app("c", "beta"), app("d", "Zed")},
         {"Alpha", "Zed", "beta", "zeta"}},
        // U+FF21 sorts before U+1F600 by scalar value, though its UTF-16 unit is larger than a surrogate.
        {"scalar values, not UTF-16 units", {app("a", "\U0001F600"), app("b", "\uFF21")}, {"\uFF21", "\U0001F600"}},
        // Canonically equal names compare equal, so the stable sort keeps their order.
        {"canonical composition",
         {app("a", "e\u0301tude"), app("b", "\u00e9tude"), app("c", "f")},
         {"f", decomposed, composed}},
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
