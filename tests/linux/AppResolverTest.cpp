#include "platform/linux/AppResolver.h"
#include "platform/linux/DesktopEntryCatalog.h"

#include <QDir>
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
    const QString tool = dir.filePath("bin/mytool");
    QDir().mkpath(dir.filePath("bin"));
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

    const QString shell = QFileInfo(QStandardPaths::findExecutable("sh")).canonicalFilePath();
    const QString scope = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
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
    auto flatpak = facts("gnome-calculator", "Gnome-calculator");
    flatpak.cgroup = scope + "app-flatpak-org.gnome.Calc-1234.scope\n";
    auto flatpakUnknown = facts("foo", "XTerm");
    flatpakUnknown.cgroup = scope + "app-flatpak-com.example.Foo-99.scope\n";
    auto flatpakInfo = facts("foo", "XTerm");
    flatpakInfo.flatpakId = "org.kde.dolphin";
    auto snap = facts("Navigator", "firefox");
    snap.cgroup = scope + "snap.firefox.firefox-0a1b2c3d-0000-4000-8000-123456789abc.scope\n";
    auto gtk = facts("gnome-calculator", "Gnome-calculator");
    gtk.gtkApplicationId = "org.gnome.Calc";
    auto gtkUnknown = facts("xterm", "XTerm");
    gtkUnknown.gtkApplicationId = "org.unknown.App";
    auto kde = facts("dolphin", "dolphin");
    kde.kdeDesktopFile = "/usr/share/applications/org.kde.dolphin.desktop";
    auto exe = facts("mytool", "Mytool-window");
    exe.executable = QFileInfo(tool).canonicalFilePath();
    auto interpreter = facts("script", "Script");
    interpreter.executable = shell;

    const std::vector<Case> cases = {
        {"flatpak cgroup", flatpak, "org.gnome.Calc", "Calculator"},
        {"flatpak without entry", flatpakUnknown, "com.example.Foo", "XTerm"},
        {"flatpak-info", flatpakInfo, "org.kde.dolphin", "Dolphin"},
        {"snap cgroup", snap, "firefox_firefox", "firefox"},
        {"gtk application id", gtk, "org.gnome.Calc", "Calculator"},
        {"unknown gtk id falls through", gtkUnknown, "debian-xterm", "XTerm"},
        {"kde desktop file", kde, "org.kde.dolphin", "Dolphin"},
        {"StartupWMClass", facts("xterm", "XTerm"), "debian-xterm", "XTerm"},
        {"StartupWMClass ignoring case", facts("foo", "xterm"), "debian-xterm", "XTerm"},
        {"chromium with its own profile", facts("chromium (/tmp/p)", "Chromium"), "chromium", "Chromium"},
        {"instance is the id", facts("Navigator", "firefox-esr"), "firefox-esr", "Firefox ESR"},
        {"executable", exe, "mytool", "My Tool"},
        {"interpreter is never matched", interpreter, QString(), "Script"},
        {"unmapped", facts("x", "Unknown"), QString(), "Unknown"},
    };
    for (const Case &c : cases) {
        const RunningApp app = AppResolver::resolve(c.facts, catalog);
        EXPECT_EQ(app.identifier, c.id) << c.what;
        EXPECT_EQ(app.displayName, c.name) << c.what;
        EXPECT_EQ(app.pid, 4242) << c.what;
    }
}

}  // namespace
}  // namespace fennimar::test
