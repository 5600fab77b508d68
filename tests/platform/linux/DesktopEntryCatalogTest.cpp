#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "tests/platform/linux/LinuxTestSupport.h"

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
    writeFile(user + "a.desktop", app + "Name=Home A\nName[de]=Heim A\nCategories=Game;CardGame;\n");
    writeFile(system + "a.desktop", app + "Name=System A\n");
    writeFile(user + "hidden.desktop", app + "Name=H\nHidden=true\n");
    writeFile(system + "hidden.desktop", app + "Name=Hidden below\n");
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
        {{home.path(), sys.path()}, {"ubuntu", "GNOME"}, EntryLocale::fromPosix("de_CH.UTF-8")});
    std::map<QString, SeenApp> apps;
    QStringList ids;
    for (const SeenApp &seen : catalog.installedApps())
        apps.emplace(seen.bundleId, seen), ids << seen.bundleId;
    ids.sort();
    EXPECT_EQ(ids, (QStringList{"a", "broken", "kde-konsole", "there", "xfcegnome"}));
    EXPECT_EQ(apps.at("a"), (SeenApp{"a", "Heim A", "public.app-category.card-games"}));
    EXPECT_EQ(apps.at("broken").name, "Broken above");
    // Helpers are not offered but still describe the windows they own; hidden ids are gone.
    ASSERT_TRUE(catalog.find("helper"));
    EXPECT_FALSE(catalog.find("hidden"));
    EXPECT_FALSE(catalog.find("gone"));
}

}  // namespace
}  // namespace fennimar::test
