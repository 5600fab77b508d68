// The Wayland desktop's pure rules: the focused window from recorded window-list batches, idle time
// from notifications and the source choice.
#include "platform/linux/wayland/NotifiedIdle.h"
#include "platform/linux/wayland/SocketPeers.h"
#include "platform/linux/wayland/ToplevelTracker.h"
#include "platform/linux/wayland/WaylandSources.h"
#include "tests/support/QtPrinters.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace fennimar {
namespace {

// One batch as the compositor sends it: "n1" new window 1, "a1=foot" its app_id, "A1"/"D1" a state
// with/without activated, "d1" done, "x1" closed.
void feed(ToplevelTracker &tracker, const QString &batch)
{
    for (const QString &event : batch.split(' ', Qt::SkipEmptyParts)) {
        const quintptr handle = event.mid(1, 1).toULongLong();
        if (event[0] == 'n')
            tracker.created(handle);
        else if (event[0] == 'a')
            tracker.setAppId(handle, event.mid(3));
        else if (event[0] == 'A' || event[0] == 'D')
            tracker.setActivated(handle, event[0] == 'A');
        else if (event[0] == 'd')
            tracker.done(handle);
        else
            tracker.closed(handle);
    }
}

TEST(WaylandSources, FrontFromRecordedBatches)
{
    // Batches, then who is in front after each ("-": nobody) when asked that many ms after it.
    const std::tuple<const char *, QStringList, QStringList, int> cases[] = {
        {"switch in one batch", {"n1 a1=foot A1 d1 n2 a2=gtk3-demo d2", "D1 d1 A2 d2"}, {"foot", "gtk3-demo"}, 5000},
        {"close the active window", {"n1 a1=foot A1 d1 n2 a2=zenity d2", "x1"}, {"foot", "-"}, 5000},
        {"deactivate, then activate", {"n1 a1=foot A1 d1", "D1 d1", "A1 d1"}, {"foot", "-", "foot"}, 5000},
        {"a window opening behind", {"n1 a1=foot A1 d1", "n2 a2=zenity d2"}, {"foot", "foot"}, 5000},
        {"two activated at once", {"n1 a1=foot A1 d1 n2 a2=zenity A2 d2", "D2 d2"}, {"-", "foot"}, 5000},
        {"changes wait for done", {"n1 a1=foot A1", "d1"}, {"-", "foot"}, 5000},
        {"nobody in front within the grace", {"n1 a1=foot A1 d1", "D1 d1"}, {"foot", "foot"}, 100},
    };
    for (const auto &[name, batches, fronts, askAfterMs] : cases) {
        SCOPED_TRACE(name);
        ToplevelTracker tracker;
        for (int i = 0; i < batches.size(); ++i) {
            const Millis at{10000 * (i + 1)};
            feed(tracker, batches[i]);
            tracker.commit(at);
            const auto front = tracker.front(at + Millis{askAfterMs});
            EXPECT_EQ(front ? front->appId : QStringLiteral("-"), fronts[i]) << "after batch " << i;
        }
    }
}

TEST(WaylandSources, IdleFromNotifications)
{
    // Notifications ('i' idled / 'r' resumed at ms), when asked (ms), the seconds idle.
    const std::tuple<const char *, std::vector<std::pair<char, int>>, int, double> cases[] = {
        {"no notification yet", {}, 900, 0},
        {"idled 2 s ago with a 1 s timeout", {{'i', 1000}}, 3000, 3.0},
        {"resumed", {{'i', 1000}, {'r', 4000}}, 5000, 0},
        {"idled again after resuming", {{'i', 1000}, {'r', 2000}, {'i', 4000}}, 4500, 1.5},
    };
    for (const auto &[name, events, askAtMs, seconds] : cases) {
        SCOPED_TRACE(name);
        NotifiedIdle idle(Millis{1000});
        for (const auto &[kind, at] : events)
            kind == 'i' ? idle.idled(Millis{at}) : idle.resumed();
        EXPECT_DOUBLE_EQ(idle.seconds(Millis{askAtMs}), seconds);
    }
}

TEST(WaylandSources, ChoiceFromWhatTheSessionOffers)
{
    using F = FrontSource;
    using I = IdleSource;
    const QString tl = "zwlr_foreign_toplevel_manager_v1", ext = "ext_idle_notifier_v1", kde = "org_kde_kwin_idle",
                  seat = "wl_seat", mutter = "org.gnome.Mutter.IdleMonitor", kwin = "org.kde.KWin",
                  shell = "org.gnome.Shell", pwm = "org_kde_plasma_window_management";
    // The offer (compositor, connected, sway IPC, globals, bus names), the sources chosen and a piece
    // of the sentence the user reads when nothing or nothing at all can be counted ("" for none).
    const char *noIdle = "does not tell the time since the last input";
    const std::tuple<const char *, WaylandOffer, F, I, const char *> cases[] = {
        {"sway 1.8", {"sway", true, true, {tl, ext, kde, seat}, {}}, F::SwayIpc, I::ExtIdleNotify, ""},
        {"sway socket refused", {"sway", true, false, {tl, kde, seat}, {}}, F::ForeignToplevel, I::KdeIdle, ""},
        {"no seat", {"labwc", true, false, {tl, ext}, {mutter}}, F::ForeignToplevel, I::MutterIdleMonitor, ""},
        {"KWin", {"kwin_wayland", true, false, {ext, kde, seat}, {kwin}}, F::None, I::ExtIdleNotify, "KWin shows its"},
        {"GNOME", {"gnome-shell", true, false, {seat}, {mutter, shell}}, F::None, I::MutterIdleMonitor, "GNOME Shell"},
        {"KWin installed", {"kwin", true, false, {pwm, seat}, {kwin}, false, ""}, F::PlasmaWindows, I::None, noIdle},
        {"KWin script", {"kwin", true, false, {ext, seat}, {kwin}, false, ""}, F::KwinScript, I::ExtIdleNotify, ""},
        {"GNOME extension", {"gnome", true, false, {seat}, {shell}, false, {}, ""}, F::GnomeExtension, I::None, noIdle},
        {"GNOME extension off", {"gnome", true, false, {}, {shell}, false, {}, "is off"}, F::None, I::None, "is off"},
        {"a11y", {"gnome", true, false, {}, {shell}, true, {}, "next login"}, F::AtspiActiveFrame, I::None, noIdle},
        {"weston", {"weston", true, false, {seat}, {}}, F::None, I::None, "weston offers no way"},
        {"weston, a11y bus", {"weston", true, false, {seat}, {}, true}, F::AtspiActiveFrame, I::None, noIdle},
        {"sway, no idle", {"sway", true, true, {tl, seat}, {}, true}, F::SwayIpc, I::None, "sway does not tell the"},
        {"unnamed", {"", true, false, {}, {}}, F::None, I::None, "this Wayland compositor offers no way"},
        {"no connection", {"", false, true, {tl, ext, seat}, {mutter}}, F::None, I::None, "not accept a connection"},
    };
    for (const auto &[name, offer, front, idle, problem] : cases) {
        SCOPED_TRACE(name);
        const SourceChoice choice = chooseSources(offer);
        EXPECT_EQ(choice.front, front);
        EXPECT_EQ(choice.idle, idle);
        const QString said = choice.problem + choice.idleProblem;
        EXPECT_EQ(said.isEmpty(), !*problem);
        EXPECT_TRUE(said.contains(QLatin1String(problem))) << said.toStdString();
    }
    // What keeps the desktop's own route from working comes first, then what the fallback cannot see.
    EXPECT_TRUE(chooseSources(std::get<1>(cases[9])).limit.startsWith("next login; meanwhile only apps that support"));
}

TEST(WaylandSources, PidAmongTheSocketsPeers)
{
    const SocketPeer foot{40, "foot", "/usr/bin/foot"}, foot2{30, "foot", "/usr/bin/foot"},
        nautilus{50, "nautilus", "/usr/bin/nautilus"}, fox{60, "firefox-esr", "/usr/lib/firefox-esr/firefox-esr"},
        wrapped{70, "foot", "/opt/foot/bin/foot"}, xwayland{80, "Xwayland", "/usr/bin/Xwayland"};
    const std::tuple<const char *, std::vector<SocketPeer>, qint64> cases[] = {
        // app id, peers, pid
        {"foot", {xwayland, foot, nautilus}, 40},
        {"org.gnome.Nautilus", {foot, nautilus}, 50},  // the last part of a reverse-DNS id
        {"firefox-esr", {fox}, 60},                    // the executable's name (comm is cut at 15)
        {"foot", {foot, foot2}, 30},                   // two instances of one app: the first
        {"foot", {foot, wrapped}, 0},                  // two programs of one name: nobody
        {"XTerm", {xwayland}, 0},                      // an X client shows up as Xwayland
        {"", {foot}, 0},
    };
    for (const auto &[appId, peers, pid] : cases) {
        SCOPED_TRACE(appId);
        EXPECT_EQ(SocketPeers::pidFor(QLatin1String(appId), peers), pid);
    }
}

}  // namespace
}  // namespace fennimar
