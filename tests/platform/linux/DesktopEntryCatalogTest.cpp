#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "tests/platform/linux/LinuxTestSupport.h"
#include "tests/support/TempHome.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace fennimar::test {
namespace {

TEST(DesktopEntryCatalogTest, InstalledAppsFollowTheXdgRules)
{
    QTemporaryDir home, sys;
    const QString user = home.filePath("applications/"), system = sys.filePath("applications/");
    const QByteArray app = "[Desktop Entry]\nType=Application\nExec=true\n";
    // The user's folder adds ids; it never hides or renames the system's.
    writeFile(user + "a.desktop", app + "Name=Homework\n");
    writeFile(system + "a.desktop", app + "Name=System A\nName[de]=System-A\nCategories=Game;CardGame;\n");
    writeFile(user + "hidden.desktop", app + "Name=H\nHidden=true\n");
    writeFile(system + "hidden.desktop", app + "Name=Hidden by the user\n");
    writeFile(user + "mine.desktop", app + "Name=Mine\n");
    writeFile(user + "broken.desktop", QByteArray("\x00\xff\x13garbage", 10));
    writeFile(system + "broken.desktop", app + "Name=Broken above\n");
    writeFile(system + "kde/konsole.desktop", app + "Name=Konsole\n");
    writeFile(system + "helper.desktop", app + "Name=Helper\nNoDisplay=true\n");
    writeFile(system + "gone.desktop", app + "Name=Gone\nTryExec=/nonexistent/gone\n");
    writeFile(system + "there.desktop", app + "Name=There\nTryExec=sh\n");
    writeFile(system + "kdeonly.desktop", app + "Name=K\nOnlyShowIn=KDE;\n");
    writeFile(system + "notgnome.desktop", app + "Name=N\nNotShowIn=GNOME;\n");
    writeFile(system + "xfcegnome.desktop", app + "Name=XG\nOnlyShowIn=XFCE;GNOME;\n");
    writeFile(system + "link.desktop", "[Desktop Entry]\nType=Link\nName=L\nURL=x\n");
    writeFile(system + "noname.desktop", app);
    writeFile(system + "notes.txt", app + "Name=Not a desktop file\n");
    DesktopEntryCatalog catalog(
        {{sys.path()}, {"ubuntu", "GNOME"}, EntryLocale::fromPosix("de_CH.UTF-8"), {home.path()}});
    std::map<QString, SeenApp> apps;
    QStringList ids;
    for (const SeenApp &seen : catalog.installedApps())
        apps.emplace(seen.bundleId, seen), ids << seen.bundleId;
    ids.sort();
    EXPECT_EQ(ids, (QStringList{"a", "broken", "hidden", "kde-konsole", "mine", "there", "xfcegnome"}));
    EXPECT_EQ(apps.at("a"), (SeenApp{"a", "System-A", "public.app-category.card-games"}));
    EXPECT_EQ(apps.at("broken").name, "Broken above");
    // Helpers are not offered but still describe the windows they own.
    ASSERT_TRUE(catalog.find("helper"));
    EXPECT_FALSE(catalog.find("gone"));
    // The environment cannot take the system's folders away.
    const ScopedEnv nowhere{"XDG_DATA_DIRS", "/nowhere"};
    EXPECT_TRUE(DesktopEntryCatalog::Options::fromEnvironment().systemDirs.contains("/usr/share"));
}

}  // namespace
}  // namespace fennimar::test
