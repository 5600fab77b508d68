// The Wayland desktop's pure rules: the focused window from recorded window-list batches, idle time
// from notifications, the source choice, and sway's focused view.
#include "platform/linux/wayland/NotifiedIdle.h"
#include "platform/linux/wayland/SocketPeers.h"
#include "platform/linux/wayland/SwayIpc.h"
#include "platform/linux/wayland/ToplevelTracker.h"
#include "platform/linux/wayland/WaylandSources.h"
#include "tests/support/QtPrinters.h"

#include <QJsonDocument>
#include <QStringList>

#include <gtest/gtest.h>

namespace fennimar {
namespace {

// One batch as the compositor sends it: "n1" new window 1, "a1=foot" its app_id, "A1"/"D1" a state
// with/without activated, "d1" done, "x1" closed.
void feed(ToplevelTracker &tracker, const QString &batch)
{
    for (const QString &event : batch.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const quintptr handle = event.mid(1, 1).toULongLong();
        switch (event.at(0).toLatin1()) {
            case 'n':
                tracker.created(handle);
                break;
            case 'a':
                tracker.setAppId(handle, event.mid(3));
                break;
            case 'A':
                tracker.setActivated(handle, true);
                break;
            case 'D':
                tracker.setActivated(handle, false);
                break;
            case 'd':
                tracker.done(handle);
                break;
            case 'x':
                tracker.closed(handle);
                break;
            default:
                FAIL() << "bad event " << event.toStdString();
        }
    }
}

TEST(WaylandSources, FrontFromRecordedBatches)
{
    struct Case {
        const char *name;
        QStringList batches;
        QStringList fronts;  // after each batch; "-" is nobody
        int askAfterMs = 5000;
    };
    const Case cases[] = {
        {"switch in one batch", {"n1 a1=foot A1 d1 n2 a2=gtk3-demo d2", "D1 d1 A2 d2"}, {"foot", "gtk3-demo"}},
        {"close the active window", {"n1 a1=foot A1 d1 n2 a2=zenity d2", "x1"}, {"foot", "-"}},
        {"deactivate, then activate", {"n1 a1=foot A1 d1", "D1 d1", "A1 d1"}, {"foot", "-", "foot"}},
        {"a window opening behind", {"n1 a1=foot A1 d1", "n2 a2=zenity d2"}, {"foot", "foot"}},
        {"two activated at once", {"n1 a1=foot A1 d1 n2 a2=zenity A2 d2", "D2 d2"}, {"-", "foot"}},
        {"changes wait for done", {"n1 a1=foot A1", "d1"}, {"-", "foot"}},
        {"nobody in front within the grace", {"n1 a1=foot A1 d1", "D1 d1"}, {"foot", "foot"}, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ToplevelTracker tracker;
        for (int i = 0; i < c.batches.size(); ++i) {
            const Millis at{10000 * (i + 1)};
            feed(tracker, c.batches[i]);
            tracker.commit(at);
            const auto front = tracker.front(at + Millis{c.askAfterMs});
            EXPECT_EQ(front ? front->appId : QStringLiteral("-"), c.fronts[i]) << "after batch " << i;
        }
    }
}

TEST(WaylandSources, IdleFromNotifications)
{
    struct Case {
        const char *name;
        std::vector<std::pair<char, int>> events;  // 'i' idled / 'r' resumed at ms
        int askAtMs;
        double seconds;
    };
    const Case cases[] = {
        {"no notification yet", {}, 900, 0},
        {"idled 2 s ago with a 1 s timeout", {{'i', 1000}}, 3000, 3.0},
        {"resumed", {{'i', 1000}, {'r', 4000}}, 5000, 0},
        {"a repeated idled keeps the first", {{'i', 1000}, {'i', 2500}}, 3000, 3.0},
        {"idled again after resuming", {{'i', 1000}, {'r', 2000}, {'i', 4000}}, 4500, 1.5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        NotifiedIdle idle(Millis{1000});
        for (const auto &[kind, at] : c.events)
            kind == 'i' ? idle.idled(Millis{at}) : idle.resumed();
        EXPECT_DOUBLE_EQ(idle.seconds(Millis{c.askAtMs}), c.seconds);
    }
}

TEST(WaylandSources, ChoiceFromWhatTheSessionOffers)
{
    using F = FrontSource;
    using I = IdleSource;
    const QString tl = QStringLiteral("zwlr_foreign_toplevel_manager_v1"), ext = QStringLiteral("ext_idle_notifier_v1"),
                  kde = QStringLiteral("org_kde_kwin_idle"), seat = QStringLiteral("wl_seat"),
                  mutter = QStringLiteral("org.gnome.Mutter.IdleMonitor"), kwin = QStringLiteral("org.kde.KWin"),
                  shell = QStringLiteral("org.gnome.Shell");
    struct Case {
        const char *name;
        WaylandOffer offer;  // compositor, connected, sway IPC, globals, bus names
        F front;
        I idle;
        const char *problem;  // a piece of the sentence, or "" for none
    };
    const Case cases[] = {
        {"sway 1.8", {"sway", true, true, {tl, ext, kde, seat}, {}}, F::SwayIpc, I::ExtIdleNotify, ""},
        {"sway socket refused", {"sway", true, false, {tl, kde, seat}, {}}, F::ForeignToplevel, I::KdeIdle, ""},
        {"idle without a seat",
         {"labwc", true, false, {tl, ext}, {mutter}},
         F::ForeignToplevel,
         I::MutterIdleMonitor,
         ""},
        {"KWin",
         {"kwin_wayland", true, false, {ext, kde, seat}, {kwin}},
         F::None,
         I::ExtIdleNotify,
         "KWin shows its window list only to installed apps"},
        {"GNOME",
         {"gnome-shell", true, false, {seat}, {mutter, shell}},
         F::None,
         I::MutterIdleMonitor,
         "GNOME Shell shows the focused window only to a Shell extension"},
        {"weston",
         {"weston", true, false, {seat}, {}},
         F::None,
         I::None,
         "weston offers no way to see the focused window"},
        {"weston with an accessibility bus",
         {"weston", true, false, {seat}, {}, true},
         F::AtspiActiveFrame,
         I::None,
         ""},
        {"sway with an accessibility bus", {"sway", true, true, {tl, seat}, {}, true}, F::SwayIpc, I::None, ""},
        {"unnamed", {"", true, false, {}, {}}, F::None, I::None, "this Wayland compositor offers no way"},
        {"no connection",
         {"", false, true, {tl, ext, seat}, {mutter}},
         F::None,
         I::None,
         "the Wayland display does not accept a connection"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const SourceChoice choice = chooseSources(c.offer);
        EXPECT_EQ(choice.front, c.front);
        EXPECT_EQ(choice.idle, c.idle);
        EXPECT_EQ(choice.problem.isEmpty(), !*c.problem);
        EXPECT_TRUE(choice.problem.contains(QLatin1String(c.problem))) << choice.problem.toStdString();
    }
    // The log line names what was passed over and why, and what the accessibility bus cannot see.
    EXPECT_TRUE(
        chooseSources(cases[5].offer).logLine().contains(QStringLiteral("no zwlr_foreign_toplevel_manager_v1")));
    EXPECT_TRUE(chooseSources(cases[6].offer).limit.startsWith(QStringLiteral("only apps that support accessibility")));
    EXPECT_EQ(chooseSources(cases[7].offer).limit, QString());
}

TEST(WaylandSources, PidAmongTheSocketsPeers)
{
    const SocketPeer foot{40, "foot", "/usr/bin/foot"}, foot2{30, "foot", "/usr/bin/foot"},
        nautilus{50, "nautilus", "/usr/bin/nautilus"}, fox{60, "firefox-esr", "/usr/lib/firefox-esr/firefox-esr"},
        wrapped{70, "foot", "/opt/foot/bin/foot"}, xwayland{80, "Xwayland", "/usr/bin/Xwayland"};
    struct Case {
        const char *appId;
        std::vector<SocketPeer> peers;
        qint64 pid;
    };
    const Case cases[] = {
        {"foot", {xwayland, foot, nautilus}, 40},
        {"org.gnome.Nautilus", {foot, nautilus}, 50},  // the last part of a reverse-DNS id
        {"firefox-esr", {fox}, 60},                    // the executable's name (comm is cut at 15)
        {"foot", {foot, foot2}, 30},                   // two instances of one app: the first
        {"foot", {foot, wrapped}, 0},                  // two programs of one name: nobody
        {"XTerm", {xwayland}, 0},                      // an X client shows up as Xwayland
        {"", {foot}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.appId);
        EXPECT_EQ(SocketPeers::pidFor(QLatin1String(c.appId), c.peers), c.pid);
    }
}

TEST(WaylandSources, SwayFocusedView)
{
    // Trimmed from sway 1.7's GET_TREE: an output, a workspace, a native and an Xwayland window.
    const auto tree = [](const char *focusedId) {
        QByteArray json = R"({"type":"root","nodes":[{"type":"output","nodes":[{"id":4,"type":"workspace",
            "focused":F4,"nodes":[{"id":7,"type":"con","focused":F7,"app_id":"foot","name":"~","pid":812},
            {"id":9,"type":"con","focused":F9,"app_id":null,"pid":815,"name":"xterm",
            "window_properties":{"class":"XTerm","instance":"xterm"}}],
            "floating_nodes":[{"id":11,"type":"floating_con","focused":F11,"app_id":"zenity","pid":830}]}]}]})";
        for (const char *id : {"F4", "F7", "F9", "F11"})
            json.replace(id, qstrcmp(id, focusedId) == 0 ? "true" : "false");
        return QJsonDocument::fromJson(json).object();
    };
    struct Case {
        const char *focused;
        std::optional<SwayView> view;
    };
    const Case cases[] = {
        {"F7", SwayView{"foot", {}, {}, "~", 812}},
        {"F9", SwayView{{}, "XTerm", "xterm", "xterm", 815}},
        {"F11", SwayView{"zenity", {}, {}, {}, 830}},
        {"F4", std::nullopt},  // an empty workspace, or swaylock running
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.focused);
        ASSERT_FALSE(tree(c.focused).isEmpty());
        EXPECT_EQ(SwayIpc::focusedView(tree(c.focused)), c.view);
    }
}

}  // namespace
}  // namespace fennimar
