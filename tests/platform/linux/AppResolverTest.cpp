#include "platform/linux/apps/AppResolver.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/PlatformTraits.h"
#include "tests/platform/linux/LinuxTestSupport.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

TEST(AppResolverTest, MapsWindowsToDesktopEntriesInRuleOrder)
{
    QTemporaryDir dir, home;
    const auto program = [](const char *name) {
        return QFileInfo(QStandardPaths::findExecutable(name)).canonicalFilePath();
    };
    const QString tool = program("true"), cat = program("cat"), sleep = program("sleep");
    const QByteArray header = "[Desktop Entry]\nType=Application\n";
    const std::vector<std::pair<const char *, QByteArray>> entries = {
        {"org.gnome.Calc.desktop", "Name=Calculator\nExec=gnome-calculator\n"},
        {"org.kde.dolphin.desktop", "Name=Dolphin\nExec=dolphin\n"},
        {"chromium.desktop", "Name=Chromium\nExec=chromium %U\n"},
        {"debian-xterm.desktop", "Name=XTerm\nExec=xterm-missing\nStartupWMClass=XTerm\n"},
        {"firefox-esr.desktop", "Name=Firefox ESR\nExec=firefox-esr\n"},
        {"mytool.desktop", "Name=My Tool\nExec=\"" + tool.toUtf8() + "\" --flag\n"},
        {"shellapp.desktop", "Name=Shell App\nExec=sh -c run-something\n"},
        {"org.gnome.Epiphany.desktop", "Name=Web\nExec=" + sleep.toUtf8() + "\n"},
        // The user's folder: an own app, and entries that would hide or take over the system's.
        {"~firefox-esr.desktop", "Name=Firefox ESR\nHidden=true\n"},
        {"~homework.desktop", "Name=Homework\nExec=" + sleep.toUtf8() + "\nStartupWMClass=firefox-esr\n"},
        {"~myapp.desktop", "Name=My App\nExec=myapp\nStartupWMClass=Homework\n"},
    };
    for (const auto &[file, body] : entries) {
        const bool user = *file == '~';
        writeFile((user ? home : dir).filePath("applications/") + (file + user), header + body);
    }
    DesktopEntryCatalog catalog({{dir.path()}, {}, {}, {home.path()}});
    const QString shell = QFileInfo(QStandardPaths::findExecutable("sh")).canonicalFilePath();
    const QString scope = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    struct Case {
        const char *what;
        WindowFacts facts;
        QString id, name;
    };
    using F = WindowFacts;
    const auto facts = [](QString instance, QString wmClass, QString F::*field = nullptr, QString value = {}) {
        F f;
        f.pid = 4242;
        f.wmInstance = std::move(instance);
        f.wmClass = std::move(wmClass);
        if (field)
            f.*field = std::move(value);
        f.program = ProgramFile::at(f.executable);
        return f;
    };
    const std::vector<Case> cases = {
        {"flatpak cgroup", facts("calc", "Calc", &F::cgroup, scope + "app-flatpak-org.gnome.Calc-1234.scope\n"),
         "org.gnome.Calc", "Calculator"},
        {"flatpak without entry", facts("foo", "XTerm", &F::cgroup, scope + "app-flatpak-com.example.Foo-99.scope\n"),
         "com.example.Foo", "XTerm"},
        {"flatpak-info", facts("foo", "XTerm", &F::flatpakId, "org.kde.dolphin"), "org.kde.dolphin", "Dolphin"},
        {"snap cgroup",
         facts("Navigator", "firefox", &F::cgroup,
               scope + "snap.firefox.firefox-0a1b2c3d-0000-4000-8000-123456789abc.scope\n"),
         "firefox_firefox", "firefox"},
        {"gtk application id", facts("calc", "Calc", &F::gtkApplicationId, "org.gnome.Calc"), "org.gnome.Calc",
         "Calculator"},
        {"unknown gtk id falls through", facts("xterm", "XTerm", &F::gtkApplicationId, "org.unknown.App"),
         "debian-xterm", "XTerm"},
        {"kde desktop file",
         facts("dolphin", "dolphin", &F::kdeDesktopFile, "/usr/share/applications/org.kde.dolphin.desktop"),
         "org.kde.dolphin", "Dolphin"},
        {"StartupWMClass", facts("xterm", "XTerm"), "debian-xterm", "XTerm"},
        {"StartupWMClass ignoring case", facts("foo", "xterm"), "debian-xterm", "XTerm"},
        {"chromium with its own profile", facts("chromium (/tmp/p)", "Chromium"), "chromium", "Chromium"},
        {"executable", facts("mytool", "Mytool-window", &F::executable, tool), "mytool", "My Tool"},
        {"interpreter is never matched", facts("script", "Script", &F::executable, shell), QString(), "Script"},
        {"a user's entry adds an id", facts("myapp", "MyApp"), "myapp", "My App"},
        {"a user's entry never hides a system one", facts("Navigator", "firefox-esr"), "firefox-esr", "Firefox ESR"},
        {"a system program is named by system entries only", facts("Navigator", "firefox-esr", &F::executable, cat),
         "firefox-esr", "Firefox ESR"},
        {"a browser's own program whatever class it claims", facts("xterm", "XTerm", &F::executable, sleep),
         "org.gnome.Epiphany", "Web"},
        {"unmapped", facts("x", "Unknown"), QString(), "Unknown"},
    };
    for (const Case &c : cases) {
        const RunningApp app = AppResolver::resolve(c.facts, catalog);
        EXPECT_EQ(app.identifier, c.id) << c.what;
        EXPECT_EQ(app.displayName, c.name) << c.what;
        EXPECT_EQ(app.pid, 4242) << c.what;
    }
}

// cgroup and window facts to "is a browser": an unlisted browser counts as an app, or not at all.
TEST(AppResolverTest, BrowsersAreKnownAsTheirPackagesNameThem)
{
    QTemporaryDir dir;
    for (const QString id :
         {"org.gnome.Epiphany", "thorium-browser", "librewolf", "torbrowser", "mullvad-browser", "konqbrowser"})
        writeFile(dir.filePath("applications/") + id + ".desktop",
                  "[Desktop Entry]\nType=Application\nName=N\nExec=n\nStartupWMClass=" + id.toUtf8() + " W\n");
    DesktopEntryCatalog catalog({{dir.path()}, {}, {}});
    const QString snap = "0::/user.slice/snap.%1-0a1b2c3d-0000-4000-8000-123456789abc.scope\n";
    const QString flatpak = "0::/user.slice/app-flatpak-%1-77.scope\n";
    // Debian packages by GTK id, WM_CLASS instance, lower-cased class and StartupWMClass; Snaps; Flatpaks.
    QStringList browsers = {"org.gnome.Epiphany", "thorium-browser", "librewolf", "torbrowser W", "mullvad-browser"};
    browsers << "konqbrowser";
    for (const char *id :
         {"firefox.firefox", "chromium.chromium", "brave.brave", "vivaldi.vivaldi-stable", "opera.opera"})
        browsers << snap.arg(id);
    for (const char *id :
         {"io.gitlab.librewolf-community", "one.ablaze.floorp", "app.zen_browser.zen", "net.mullvad.MullvadBrowser",
          "net.waterfox.waterfox", "io.github.ungoogled_software.ungoogled_chromium",
          "com.github.micahflee.torbrowser-launcher", "org.gnome.Epiphany", "org.kde.falkon", "org.kde.konqueror"})
        browsers << flatpak.arg(id);
    const QStringList apps = {snap.arg("firefox.geckodriver"), flatpak.arg("org.gnome.Calculator")};
    for (const QString &fact : browsers + apps) {
        WindowFacts facts;
        facts.pid = 4242;
        (fact.startsWith("0::") ? facts.cgroup : fact.contains('.') ? facts.gtkApplicationId : facts.wmClass) = fact;
        facts.wmInstance = fact == "thorium-browser" ? fact : "Navigator";
        const QString id = AppResolver::resolve(facts, catalog).identifier;
        EXPECT_EQ(platform::browserIds().contains(id), browsers.contains(fact))
            << fact.toStdString() << " -> " << id.toStdString();
    }
}

}  // namespace
}  // namespace fennimar::test
