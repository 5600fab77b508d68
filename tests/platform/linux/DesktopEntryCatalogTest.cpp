#include "platform/linux/apps/DesktopEntryCatalog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace fennimar::test {

void writeDesktopFile(const QString &root, const QString &relative, const QByteArray &body)
{
    const QString path = root + ("/applications/") + relative;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(body);
}

namespace {

class DesktopEntryCatalogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString user = home.path(), system = sys.path();
        const QByteArray app = "[Desktop Entry]\nType=Application\nExec=true\n";
        writeDesktopFile(user, ("a.desktop"), app + "Name=Home A\nName[de]=Heim A\nCategories=Game;CardGame;\n");
        writeDesktopFile(system, ("a.desktop"), app + "Name=System A\n");
        writeDesktopFile(user, ("hidden.desktop"), app + "Name=H\nHidden=true\n");
        writeDesktopFile(system, ("hidden.desktop"), app + "Name=Hidden below\n");
        writeDesktopFile(user, ("broken.desktop"), QByteArray("\x00\xff\x13garbage", 10));
        writeDesktopFile(system, ("broken.desktop"), app + "Name=Broken above\n");
        writeDesktopFile(system, ("kde/konsole.desktop"), app + "Name=Konsole\n");
        writeDesktopFile(system, ("helper.desktop"), app + "Name=Helper\nNoDisplay=true\n");
        writeDesktopFile(system, ("gone.desktop"), app + "Name=Gone\nTryExec=/nonexistent/gone\n");
        writeDesktopFile(system, ("there.desktop"), app + "Name=There\nTryExec=sh\n");
        writeDesktopFile(system, ("kdeonly.desktop"), app + "Name=K\nOnlyShowIn=KDE;\n");
        writeDesktopFile(system, ("notgnome.desktop"), app + "Name=N\nNotShowIn=GNOME;\n");
        writeDesktopFile(system, ("xfcegnome.desktop"), app + "Name=XG\nOnlyShowIn=XFCE;GNOME;\n");
        writeDesktopFile(system, ("link.desktop"), "[Desktop Entry]\nType=Link\nName=L\nURL=x\n");
        writeDesktopFile(system, ("noname.desktop"), app);
        writeDesktopFile(system, ("notes.txt"), app + "Name=Not a desktop file\n");
    }

    QTemporaryDir home, sys;
};

TEST_F(DesktopEntryCatalogTest, InstalledAppsFollowTheXdgRules)
{
    DesktopEntryCatalog catalog(
        {{home.path(), sys.path()}, {"ubuntu", "GNOME"}, EntryLocale::fromPosix("de_CH.UTF-8")});
    std::map<QString, SeenApp> apps;
    for (const SeenApp &app : catalog.installedApps())
        apps.emplace(app.bundleId, app);
    std::vector<QString> ids;
    for (const auto &[id, app] : apps)
        ids.push_back(id);
    EXPECT_EQ(ids, (std::vector<QString>{("a"), ("broken"), ("kde-konsole"), ("there"), ("xfcegnome")}));
    EXPECT_EQ(apps.at(("a")), (SeenApp{("a"), ("Heim A"), ("public.app-category.card-games")}));
    EXPECT_EQ(apps.at(("broken")).name, ("Broken above"));
    // Helpers are not offered but still describe the windows they own; hidden ids are gone.
    ASSERT_TRUE(catalog.find(("helper")));
    EXPECT_FALSE(catalog.find(("hidden")));
    EXPECT_FALSE(catalog.find(("gone")));
}

}  // namespace
}  // namespace fennimar::test
