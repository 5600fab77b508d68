#include "platform/linux/AppResolver.h"
#include "platform/linux/DesktopEntryCatalog.h"
#include "tests/support/NonRegularFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace fennimar::test {

void writeDesktopFile(const QString &root, const QString &relative, const QByteArray &body);

namespace {

TEST(AppResolverTest, MapsWindowsToDesktopEntriesInRuleOrder)
{
    QTemporaryDir dir;
    const QString tool = dir.filePath(QStringLiteral("bin/mytool"));
    QDir().mkpath(dir.filePath(QStringLiteral("bin")));
    QFile toolFile(tool);
    ASSERT_TRUE(toolFile.open(QIODevice::WriteOnly));
    toolFile.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray header = "[Desktop Entry]\nType=Application\n";
    const std::vector<std::pair<const char *, QByteArray>> entries = {
        {"org.gnome.Calc.desktop", "Name=Calculator\nExec=gnome-calculator\n"},
        {"org.kde.dolphin.desktop", "Name=Dolphin\nExec=dolphin\n"},
        {"chromium.desktop", "Name=Chromium\nExec=chromium %U\n"},
        {"debian-xterm.desktop", "Name=XTerm\nExec=xterm-missing\nStartupWMClass=XTerm\n"},
        {"firefox-esr.desktop", "Name=Firefox ESR\nExec=firefox-esr\n"},
        {"mytool.desktop", "Name=My Tool\nExec=\"" + tool.toUtf8() + "\" --flag\n"},
        {"shellapp.desktop", "Name=Shell App\nExec=sh -c run-something\n"},
    };
    for (const auto &[file, body] : entries)
        writeDesktopFile(dir.path(), QLatin1String(file), header + body);
    DesktopEntryCatalog catalog({{dir.path()}, {}, {}});

    const QString shell = QFileInfo(QStandardPaths::findExecutable(QStringLiteral("sh"))).canonicalFilePath();
    const QString scope = QStringLiteral("0::/user.slice/user-1000.slice/user@1000.service/app.slice/");
    struct Case {
        const char *what;
        WindowFacts facts;
        QString id, name;
    };
    const auto facts = [](QString instance, QString wmClass) {
        WindowFacts f;
        f.pid = 4242;
        f.wmInstance = std::move(instance);
        f.wmClass = std::move(wmClass);
        return f;
    };
    auto flatpak = facts(QStringLiteral("gnome-calculator"), QStringLiteral("Gnome-calculator"));
    flatpak.cgroup = scope + QStringLiteral("app-flatpak-org.gnome.Calc-1234.scope\n");
    auto flatpakUnknown = facts(QStringLiteral("foo"), QStringLiteral("XTerm"));
    flatpakUnknown.cgroup = scope + QStringLiteral("app-flatpak-com.example.Foo-99.scope\n");
    auto flatpakInfo = facts(QStringLiteral("foo"), QStringLiteral("XTerm"));
    flatpakInfo.flatpakId = QStringLiteral("org.kde.dolphin");
    auto snap = facts(QStringLiteral("Navigator"), QStringLiteral("firefox"));
    snap.cgroup = scope + QStringLiteral("snap.firefox.firefox-0a1b2c3d-0000-4000-8000-123456789abc.scope\n");
    auto gtk = facts(QStringLiteral("gnome-calculator"), QStringLiteral("Gnome-calculator"));
    gtk.gtkApplicationId = QStringLiteral("org.gnome.Calc");
    auto gtkUnknown = facts(QStringLiteral("xterm"), QStringLiteral("XTerm"));
    gtkUnknown.gtkApplicationId = QStringLiteral("org.unknown.App");
    auto kde = facts(QStringLiteral("dolphin"), QStringLiteral("dolphin"));
    kde.kdeDesktopFile = QStringLiteral("/usr/share/applications/org.kde.dolphin.desktop");
    auto exe = facts(QStringLiteral("mytool"), QStringLiteral("Mytool-window"));
    exe.executable = QFileInfo(tool).canonicalFilePath();
    auto interpreter = facts(QStringLiteral("script"), QStringLiteral("Script"));
    interpreter.executable = shell;

    const std::vector<Case> cases = {
        {"flatpak cgroup", flatpak, QStringLiteral("org.gnome.Calc"), QStringLiteral("Calculator")},
        {"flatpak without entry", flatpakUnknown, QStringLiteral("com.example.Foo"), QStringLiteral("XTerm")},
        {"flatpak-info", flatpakInfo, QStringLiteral("org.kde.dolphin"), QStringLiteral("Dolphin")},
        {"snap cgroup", snap, QStringLiteral("firefox_firefox"), QStringLiteral("firefox")},
        {"gtk application id", gtk, QStringLiteral("org.gnome.Calc"), QStringLiteral("Calculator")},
        {"unknown gtk id falls through", gtkUnknown, QStringLiteral("debian-xterm"), QStringLiteral("XTerm")},
        {"kde desktop file", kde, QStringLiteral("org.kde.dolphin"), QStringLiteral("Dolphin")},
        {"StartupWMClass", facts(QStringLiteral("xterm"), QStringLiteral("XTerm")), QStringLiteral("debian-xterm"),
         QStringLiteral("XTerm")},
        {"StartupWMClass ignoring case", facts(QStringLiteral("foo"), QStringLiteral("xterm")),
         QStringLiteral("debian-xterm"), QStringLiteral("XTerm")},
        {"chromium with its own profile", facts(QStringLiteral("chromium (/tmp/p)"), QStringLiteral("Chromium")),
         QStringLiteral("chromium"), QStringLiteral("Chromium")},
        {"instance is the id", facts(QStringLiteral("Navigator"), QStringLiteral("firefox-esr")),
         QStringLiteral("firefox-esr"), QStringLiteral("Firefox ESR")},
        {"executable", exe, QStringLiteral("mytool"), QStringLiteral("My Tool")},
        {"interpreter is never matched", interpreter, QString(), QStringLiteral("Script")},
        {"unmapped", facts(QStringLiteral("x"), QStringLiteral("Unknown")), QString(), QStringLiteral("Unknown")},
    };
    for (const Case &c : cases) {
        const RunningApp app = AppResolver::resolve(c.facts, catalog);
        EXPECT_EQ(app.identifier, c.id) << c.what;
        EXPECT_EQ(app.displayName, c.name) << c.what;
        EXPECT_EQ(app.pid, 4242) << c.what;
    }
}

TEST(AppResolverTest, ReadsTheProcessOfThisTest)
{
    WindowFacts facts;
    facts.pid = QCoreApplication::applicationPid();
    facts.readProcess();
    EXPECT_EQ(facts.executable, QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
    EXPECT_FALSE(facts.cgroup.isEmpty());
    EXPECT_TRUE(facts.flatpakId.isEmpty());
}

// "/proc/PID/root/.flatpak-info" belongs to whatever process is in front, which can put anything
// there: it is read only for a Flatpak scope that does not name its id, and never blocks.
TEST(FlatpakInfo, ReadOnlyForAFlatpakScopeAndOnlyWhenItIsAFile)
{
    QTemporaryDir proc;
    const QString root = proc.filePath(QStringLiteral("42/root"));
    const QString info = root + QStringLiteral("/.flatpak-info");
    auto read = [&](const char *cgroup) {
        QFile file(proc.filePath(QStringLiteral("42/cgroup")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(cgroup);
        file.close();
        WindowFacts facts;
        facts.pid = 42;
        facts.readProcess(proc.path());
        return facts.flatpakId;
    };
    QDir().mkpath(root);
    QFile file(info);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Application]\nname=org.example.Claimed\n");
    file.close();
    EXPECT_EQ(read("0::/user.slice/app.slice/app-xterm-1.scope\n"), QString()) << "not a Flatpak app";
    EXPECT_EQ(read("0::/user.slice/flatpak-org.example.Claimed-77.scope\n"), QStringLiteral("org.example.Claimed"));

    for (const SpecialFile &c : specialFiles) {
        SCOPED_TRACE(c.name);
        QDir(root).removeRecursively();
        QDir().mkpath(root);
        if (c.make(QFile::encodeName(info)) == 0)
            continue;
        QElapsedTimer took;
        took.start();
        FifoUnblocker unblocker(QFile::encodeName(info));
        EXPECT_EQ(read("0::/user.slice/flatpak-org.example.Claimed-77.scope\n"), QString());
        EXPECT_LT(took.elapsed(), 1000);
    }
}

}  // namespace
}  // namespace fennimar::test
