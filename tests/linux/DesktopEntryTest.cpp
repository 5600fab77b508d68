#include "platform/linux/AppCategories.h"
#include "platform/linux/DesktopEntry.h"

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

TEST(DesktopEntryTest, ParsesOnlyTheMainGroupWithEscapesAndLists)
{
    const DesktopEntry entry = DesktopEntry::parse(
        "# comment\n[Desktop Action new]\nName=Action name\n"
        "[Desktop Entry]\r\nName = Editor \r\nComment=two\\nlines\\sand\\\\slash\\q\nName=Second value ignored\n"
        "Categories=Office;;Text\\;Tools;\nbad key=x\nKey[de=broken\nNoDisplay=True\nHidden=true\n"
        "[Desktop Entry]\nExec=override-attempt\n\xff\xfe=binary\n");
    EXPECT_EQ(entry.value(QStringLiteral("Name")), QStringLiteral("Editor"));
    EXPECT_EQ(entry.value(QStringLiteral("Comment")), QStringLiteral("two\nlines and\\slash\\q"));
    EXPECT_EQ(entry.list(QStringLiteral("Categories")),
              (QStringList{QStringLiteral("Office"), QStringLiteral("Text;Tools")}));
    EXPECT_FALSE(entry.value(QStringLiteral("bad key")));
    EXPECT_FALSE(entry.value(QStringLiteral("Exec"))) << "a second main group must not override the first";
    EXPECT_FALSE(entry.boolean(QStringLiteral("NoDisplay"))) << "only the exact word true is true";
    EXPECT_TRUE(entry.boolean(QStringLiteral("Hidden")));
}

TEST(DesktopEntryTest, LocalizedNameFollowsTheFallbackChain)
{
    const DesktopEntry entry = DesktopEntry::parse(
        "[Desktop Entry]\nName=C\nName[sr]=sr\nName[sr@latin]=sr@latin\nName[sr_RS]=sr_RS\nName[de]=de\n");
    const std::vector<std::pair<const char *, const char *>> cases = {
        {"sr_RS.UTF-8@latin", "sr_RS"},  // sr_RS@latin absent: sr_RS before sr@latin
        {"sr_ME@latin", "sr@latin"},
        {"sr_ME", "sr"},
        {"de_AT.UTF-8", "de"},
        {"fr_FR", "C"},
        {"C.UTF-8", "C"},
        {"", "C"},
    };
    for (const auto &[locale, expected] : cases)
        EXPECT_EQ(entry.localized(QStringLiteral("Name"), EntryLocale::fromPosix(QLatin1String(locale))),
                  QLatin1String(expected))
            << locale;
}

TEST(DesktopEntryTest, SplitExecHonoursQuotingAndDropsFieldCodes)
{
    const std::vector<std::pair<QString, QStringList>> cases = {
        {QStringLiteral("firefox %u"), {QStringLiteral("firefox")}},
        {QStringLiteral("\"/opt/My App/run\" --x=\"a b\" 100%%"),
         {QStringLiteral("/opt/My App/run"), QStringLiteral("--x=a b"), QStringLiteral("100%")}},
        {QStringLiteral("\"/a\\\"b\\$c\" %F"), {QStringLiteral("/a\"b$c")}},
        {QStringLiteral("  "), {}},
        {QStringLiteral("\"unterminated arg"), {QStringLiteral("unterminated arg")}},
    };
    for (const auto &[exec, expected] : cases)
        EXPECT_EQ(splitExec(exec), expected) << exec.toStdString();
}

TEST(AppCategoriesTest, MostSpecificCategoryWins)
{
    const std::vector<std::pair<const char *, const char *>> cases = {
        {"Game;ActionGame;", "action-games"},    {"LogicGame;Game;", "puzzle-games"},
        {"Science;Simulation;", "education"},  // Simulation alone is not a game genre
        {"Network;WebBrowser;", "productivity"}, {"AudioVideo;Audio;Player;", "music"},
        {"AudioVideo;", "entertainment"},        {"Utility;TextEditor;", "utilities"},
        {"Education;Maps;", "travel"},
    };
    for (const auto &[categories, expected] : cases)
        EXPECT_EQ(appCategoryFor(QString::fromLatin1(categories).split(QLatin1Char(';'), Qt::SkipEmptyParts)),
                  QStringLiteral("public.app-category.") + QLatin1String(expected))
            << categories;
    EXPECT_FALSE(appCategoryFor({QStringLiteral("X-Custom"), QStringLiteral("GTK")}));
    EXPECT_FALSE(appCategoryFor({}));
}

}  // namespace
}  // namespace fennimar::test
