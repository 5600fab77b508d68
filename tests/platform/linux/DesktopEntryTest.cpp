#include "platform/linux/apps/DesktopEntry.h"

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
    EXPECT_EQ(entry.value("Name"), QStringLiteral("Editor"));
    EXPECT_EQ(entry.value("Comment"), QStringLiteral("two\nlines and\\slash\\q"));
    EXPECT_EQ(entry.list("Categories"), (QStringList{"Office", "Text;Tools"}));
    EXPECT_FALSE(entry.value("bad key"));
    EXPECT_FALSE(entry.value("Exec")) << "a second main group must not override the first";
    EXPECT_FALSE(entry.boolean("NoDisplay")) << "only the exact word true is true";
    EXPECT_TRUE(entry.boolean("Hidden"));
    const DesktopEntry names = DesktopEntry::parse(
        "[Desktop Entry]\nName=C\nName[sr]=sr\nName[sr@latin]=sr@latin\nName[sr_RS]=sr_RS\nName[de]=de\n");
    const std::pair<const char *, const char *> locales[] = {
        {"sr_RS.UTF-8@latin", "sr_RS"},  // sr_RS@latin absent: sr_RS before sr@latin
        {"sr_ME@latin", "sr@latin"},    {"sr_ME", "sr"}, {"de_AT.UTF-8", "de"}, {"fr_FR", "C"}, {"", "C"},
    };
    for (const auto &[locale, expected] : locales)
        EXPECT_EQ(names.localized("Name", EntryLocale::fromPosix(locale)), QLatin1String(expected)) << locale;
}

TEST(DesktopEntryTest, SplitExecHonoursQuotingAndDropsFieldCodes)
{
    const std::pair<QString, QStringList> cases[] = {
        {"firefox %u", {"firefox"}},
        {"\"/opt/My App/run\" --x=\"a b\" 100%%", {"/opt/My App/run", "--x=a b", "100%"}},
        {"\"/a\\\"b\\$c\" %F", {"/a\"b$c"}},
        {"  ", {}},
        {"\"unterminated arg", {"unterminated arg"}},
    };
    for (const auto &[exec, expected] : cases)
        EXPECT_EQ(splitExec(exec), expected) << exec.toStdString();
}

}  // namespace
}  // namespace fennimar::test
