#include "platform/linux/DesktopEntryCatalog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <map>

namespace fennimar::test {

void writeDesktopFile(const QString &root, const QString &relative, const QByteArray &body)
{
    const QString path = root + QStringLiteral("/applications/") + relative;
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
        writeDesktopFile(user, QStringLiteral("a.desktop"),
                         app + "Name=Home A\nName[de]=Heim A\nCategories=Game;CardGame;\n");
        writeDesktopFile(system, QStringLiteral("a.desktop"), app + "Name=System A\n");
        writeDesktopFile(user, QStringLiteral("hidden.desktop"), app + "Name=H\nHidden=true\n");
        writeDesktopFile(system, QStringLiteral("hidden.desktop"), app + "Name=Hidden below\n");
        writeDesktopFile(user, QStringLiteral("broken.desktop"), QByteArray("\x00\xff\x13garbage", 10));
        writeDesktopFile(system, QStringLiteral("broken.desktop"), app + "Name=Broken above\n");
        writeDesktopFile(system, QStringLiteral("kde/konsole.desktop"), app + "Name=Konsole\nCategories=System;\n");
        writeDesktopFile(system, QStringLiteral("helper.desktop"), app + "Name=Helper\nNoDisplay=true\n");
        writeDesktopFile(system, QStringLiteral("gone.desktop"), app + "Name=Gone\nTryExec=/nonexistent/gone\n");
        writeDesktopFile(system, QStringLiteral("there.desktop"), app + "Name=There\nTryExec=sh\n");
        writeDesktopFile(system, QStringLiteral("kdeonly.desktop"), app + "Name=K\nOnlyShowIn=KDE;\n");
        writeDesktopFile(system, QStringLiteral("notgnome.desktop"), app + "Name=N\nNotShowIn=GNOME;\n");
        writeDesktopFile(system, QStringLiteral("xfcegnome.desktop"), app + "Name=XG\nOnlyShowIn=XFCE;GNOME;\n");
        writeDesktopFile(system, QStringLiteral("link.desktop"), "[Desktop Entry]\nType=Link\nName=L\nURL=x\n");
        writeDesktopFile(system, QStringLiteral("noname.desktop"), app);
        writeDesktopFile(system, QStringLiteral("notes.txt"), app + "Name=Not a desktop file\n");
    }

    std::map<QString, SeenApp> installed(DesktopEntryCatalog &catalog)
    {
        std::map<QString, SeenApp> byId;
        for (const SeenApp &app : catalog.installedApps())
            byId.emplace(app.bundleId, app);
        return byId;
    }

    DesktopEntryCatalog::Options options()
    {
        return {{home.path(), sys.path()},
                {QStringLiteral("ubuntu"), QStringLiteral("GNOME")},
                EntryLocale::fromPosix(QStringLiteral("de_CH.UTF-8"))};
    }

    QTemporaryDir home, sys;
};

TEST_F(DesktopEntryCatalogTest, InstalledAppsFollowTheXdgRules)
{
    DesktopEntryCatalog catalog(options());
    const auto apps = installed(catalog);
    std::vector<QString> ids;
    for (const auto &[id, app] : apps)
        ids.push_back(id);
    EXPECT_EQ(ids, (std::vector<QString>{QStringLiteral("a"), QStringLiteral("broken"), QStringLiteral("kde-konsole"),
                                         QStringLiteral("there"), QStringLiteral("xfcegnome")}));
    EXPECT_EQ(apps.at(QStringLiteral("a")), (SeenApp{QStringLiteral("a"), QStringLiteral("Heim A"),
                                                     QStringLiteral("public.app-category.card-games")}));
    EXPECT_EQ(apps.at(QStringLiteral("broken")).name, QStringLiteral("Broken above"));
    EXPECT_EQ(apps.at(QStringLiteral("kde-konsole")).category, QStringLiteral("public.app-category.utilities"));
    EXPECT_EQ(apps.at(QStringLiteral("there")).category, std::nullopt);

    // Helpers are not offered but still describe the windows they own; hidden ids are gone.
    ASSERT_TRUE(catalog.find(QStringLiteral("helper")));
    EXPECT_FALSE(catalog.find(QStringLiteral("hidden")));
    EXPECT_FALSE(catalog.find(QStringLiteral("gone")));
}

TEST_F(DesktopEntryCatalogTest, RescansOnlyWhenAFolderChanges)
{
    DesktopEntryCatalog catalog(options());
    installed(catalog);
    installed(catalog);
    catalog.find(QStringLiteral("a"));
    EXPECT_EQ(catalog.scanCount(), 1);

    QThread::msleep(20);
    writeDesktopFile(sys.path(), QStringLiteral("kde/kate.desktop"), "[Desktop Entry]\nType=Application\nName=Kate\n");
    EXPECT_TRUE(installed(catalog).count(QStringLiteral("kde-kate")));
    EXPECT_EQ(catalog.scanCount(), 2);

    QThread::msleep(20);
    QFile::remove(home.path() + QStringLiteral("/applications/a.desktop"));
    EXPECT_EQ(installed(catalog).at(QStringLiteral("a")).name, QStringLiteral("System A"));
}

TEST_F(DesktopEntryCatalogTest, DescribesRunningAppsFromTheirEntry)
{
    DesktopEntryCatalog catalog(options());
    EXPECT_EQ(
        catalog.describe(RunningApp{QStringLiteral("a"), 12, QStringLiteral("window title"), {}}),
        (SeenApp{QStringLiteral("a"), QStringLiteral("Heim A"), QStringLiteral("public.app-category.card-games")}));
    EXPECT_EQ(
        catalog.describe(RunningApp{QStringLiteral("org.example.Sandboxed"), 12, QStringLiteral("Sandboxed"), {}}),
        (SeenApp{QStringLiteral("org.example.Sandboxed"), QStringLiteral("Sandboxed"), std::nullopt}));
    EXPECT_EQ(catalog.describe(RunningApp{QStringLiteral("org.example.NoName"), 12, {}, {}})->name,
              QStringLiteral("org.example.NoName"));
    EXPECT_FALSE(catalog.describe(RunningApp{{}, 12, QStringLiteral("Unmapped"), {}}));
}

}  // namespace
}  // namespace fennimar::test
