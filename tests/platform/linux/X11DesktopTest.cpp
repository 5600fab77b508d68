#include "core/VirtualClock.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/x11/X11Desktop.h"
#include "tests/platform/linux/LinuxTestSupport.h"
#include "tests/support/TempHome.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

// The real X server: the activated window's desktop entry, and the idle time from real input.
TEST(X11DesktopTest, FrontmostAppFollowsActivationAndIdleFollowsInput)
{
    DesktopSession x;
    ASSERT_EQ(x.start(), QString()) << "the X session did not start";
    QTemporaryDir data;
    const std::pair<const char *, QByteArray> entries[] = {
        {"debian-xterm", "Name=XTerm\nName[de]=X-Terminal\nExec=xterm-elsewhere\nStartupWMClass=XTerm\n"},
        {"fennitest", "Name=Fenni Test\nExec=fennitest\n"},
        {"myterm", "Name=My Terminal\nExec=xterm -e top\n"},
    };
    for (const auto &[id, body] : entries)
        writeFile(data.filePath(QStringLiteral("applications/%1.desktop").arg(id)),
                  "[Desktop Entry]\nType=Application\n" + body);
    DesktopEntryCatalog catalog({{data.path()}, {}, EntryLocale::fromPosix("de_DE.UTF-8")});
    VirtualClock clock;
    const auto evidence = std::make_shared<TamperEvidence>();
    X11Desktop desktop(clock, catalog, nullptr, x.display(), evidence);
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {"XTerm", "debian-xterm", "X-Terminal"},
        {"Fennitest", "fennitest", "Fenni Test"},
        {"Nomatch", "myterm", "My Terminal"},  // no class matches: the executable is xterm, which only myterm runs
    };
    std::vector<std::pair<QString, qint64>> windows;
    for (const auto &[wmClass, id, name] : cases) {
        qint64 pid = 0;
        windows.emplace_back(
            x.openTerminal({"-name", QStringLiteral("fen%1").arg(windows.size()), "-class", wmClass}, &pid), pid);
        ASSERT_FALSE(windows.back().first.isEmpty()) << id;
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto &[wmClass, id, name] = cases[i];
        ASSERT_TRUE(x.activate(windows[i].first));
        std::optional<RunningApp> app;
        EXPECT_TRUE(waitUntil([&] { return (app = desktop.frontmostApp()) && app->identifier == id; }, 10000))
            << id << " got " << (app ? app->identifier.toStdString() : "nothing");
        ASSERT_TRUE(app);
        EXPECT_EQ(app->displayName, name);
        EXPECT_EQ(app->pid, windows[i].second);
        EXPECT_EQ(app->location, data.filePath(QStringLiteral("applications/%1.desktop").arg(id)));
    }

    // The root's active-window property pointed at nothing: the focused window counts, a lasting gap is told.
    ASSERT_TRUE(x.run("xprop", {"-root", "-f", "_NET_ACTIVE_WINDOW", "32x", "-set", "_NET_ACTIVE_WINDOW", "0x0"}));
    const auto front = [&] { return desktop.frontmostApp().value_or(RunningApp{}).identifier; };
    EXPECT_TRUE(waitUntil([&] { return front() == "myterm" && desktop.samplingProblem().isEmpty(); }));
    clock.advance(Millis(4000));
    EXPECT_EQ(front(), "myterm");
    EXPECT_EQ(desktop.samplingProblem(), "");
    clock.advance(Millis(1000));
    EXPECT_EQ(front(), "myterm");
    EXPECT_TRUE(desktop.samplingProblem().startsWith("the active window the desktop names (0x0) is not the one with"))
        << desktop.samplingProblem().toStdString();
    EXPECT_EQ(evidence->seenCount(), 1u);
    ASSERT_TRUE(x.activate(windows[0].first));
    EXPECT_TRUE(waitUntil([&] { return front() == "debian-xterm" && desktop.samplingProblem().isEmpty(); }));
    ASSERT_TRUE(x.xdotool({"mousemove", "10", "20"}));
    EXPECT_LT(desktop.secondsSinceInput().value_or(99), 1.0);
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(0) >= 1.2; }, 5000));
    ASSERT_TRUE(x.xdotool({"mousemove", "200", "100"}));
    EXPECT_LT(desktop.secondsSinceInput().value_or(99), 1.0);
}

// Without MIT-SCREEN-SAVER no tick could be active: the desktop says why.
TEST(X11DesktopTest, AServerWithoutAnIdleTimeIsASamplingProblem)
{
    QProcess server;
    server.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-extension", "MIT-SCREEN-SAVER"});
    ASSERT_TRUE(server.waitForStarted(10000) && server.waitForReadyRead(30000));
    DesktopEntryCatalog catalog({{}, {}, EntryLocale::fromPosix("C")});
    VirtualClock clock;
    X11Desktop desktop(clock, catalog, nullptr, ':' + server.readLine().trimmed());
    EXPECT_FALSE(desktop.secondsSinceInput());
    EXPECT_EQ(desktop.samplingProblem(),
              "the X server offers no idle time (no MIT-SCREEN-SAVER extension), so nothing is counted");
    server.terminate();
    server.waitForFinished(10000);
}

}  // namespace
}  // namespace fennimar::test
