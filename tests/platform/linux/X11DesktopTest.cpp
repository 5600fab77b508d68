#include "core/VirtualClock.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/x11/X11Desktop.h"
#include "tests/platform/linux/LinuxTestSupport.h"
#include "tests/support/TempHome.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>

namespace fennimar::test {
namespace {

// As any client may: the input focus (PointerRoot, None too) and the root's _NET_ACTIVE_WINDOW (~0: left).
void rewriteFocus(const QByteArray &display, uint32_t focus, uint32_t named)
{
    xcb_connection_t *c = xcb_connect(display.constData(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 18, "_NET_ACTIVE_WINDOW"), nullptr);
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, focus, XCB_CURRENT_TIME);
    if (named != ~0u)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_WINDOW, 32, 1, &named);
    std::free(atom);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // done once answered
    xcb_disconnect(c);
}

// The real X server: the activated window's desktop entry, and the idle time from real input.
TEST(X11DesktopTest, FrontmostAppFollowsActivationAndIdleFollowsInput)
{
    DesktopSession x;
    ASSERT_EQ(x.start(), QString()) << "the X session did not start";
    QTemporaryDir data;
    const std::pair<const char *, QByteArray> entries[] = {
        {"debian-xterm", "Name=XTerm\nName[de]=X-Terminal\nExec=xterm-elsewhere\nStartupWMClass=XTerm\n"},
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

    ASSERT_TRUE(x.activate(windows[0].first));
    ASSERT_TRUE(x.xdotool({"mousemove", "--window", windows[0].first, "10", "10"}));
    EXPECT_LT(desktop.secondsSinceInput().value_or(99), 1.0);
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(0) >= 1.2; }, 5000));
    ASSERT_TRUE(x.xdotool({"mousemove", "--window", windows[0].first, "20", "20"}));
    EXPECT_LT(desktop.secondsSinceInput().value_or(99), 1.0);

    // A script sets the focus (openbox paused) and names another window, or none: the focused one counts,
    // under PointerRoot the one under the pointer, on no window the named one; told after 5 s.
    const auto wm = static_cast<pid_t>(x.windowManagerPid());
    ASSERT_GT(wm, 0);
    ::kill(wm, SIGSTOP);
    const auto id = [&](int i) { return windows[i].first.toUInt(); };
    const auto front = [&] { return desktop.frontmostApp().value_or(RunningApp{}).identifier; };
    const auto names = [](uint32_t w, const char *what) {
        return QStringLiteral("names (0x%1) %2").arg(w, 0, 16).arg(what);
    };
    const std::tuple<const char *, uint32_t, uint32_t, const char *, QString> focusCases[] = {
        {"no window named", id(1), XCB_WINDOW_NONE, "myterm", names(0, "is not the one with the keyboard")},
        {"PointerRoot", XCB_INPUT_FOCUS_POINTER_ROOT, id(1), "debian-xterm", names(id(1), "is not the one with")},
        {"focus on None, the property left", XCB_WINDOW_NONE, ~0u, "debian-xterm", names(id(0), "does not have the")},
    };
    for (const auto &[name, focus, named, counted, told] : focusCases) {
        SCOPED_TRACE(name);
        rewriteFocus(x.display(), focus, named);
        EXPECT_TRUE(waitUntil([&] { return front() == counted; }));
        clock.advance(Millis(4000));
        EXPECT_EQ(desktop.samplingProblem(), "");
        clock.advance(Millis(1000));
        EXPECT_EQ(front(), counted);
        EXPECT_TRUE(desktop.samplingProblem().contains(told)) << desktop.samplingProblem().toStdString();
        rewriteFocus(x.display(), id(0), id(0));
        EXPECT_TRUE(waitUntil([&] { return front() == "debian-xterm" && desktop.samplingProblem().isEmpty(); }));
    }
    EXPECT_EQ(evidence->seenCount(), 3u);
    ::kill(wm, SIGCONT);
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
