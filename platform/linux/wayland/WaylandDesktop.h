#pragma once

#include "platform/TamperEvidence.h"

#include "core/Clock.h"
#include "platform/Desktop.h"
#include "platform/linux/session/ScreenLockMonitor.h"
#include "platform/linux/wayland/WaylandSources.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <optional>

namespace fennimar {

class DesktopEntryCatalog;
namespace atspi {
class AtspiActiveFrame;
}
class GnomeExtension;
class KwinScript;
class SwayIpc;
class WaylandClient;
class X11Desktop;
struct Toplevel;

// The desktop of a Wayland session. At construction it finds what the session really offers (the
// compositor's globals, sway's socket, session-bus names, and where nothing else shows the window
// in front, whether KWin runs our script or GNOME Shell our extension), chooses the sources (see chooseSources)
// and logs the choice once with what was missing. The app in front and idle time then arrive as
// events on the main loop; a tick reads them from memory after a non-blocking read of the sockets,
// except Mutter's idle time, which is asked asynchronously every 2 s (and on a tick) so that its
// last answer is always at most a few seconds old. The window's app_id (or an Xwayland window's class) is mapped to its
// desktop entry through AppResolver, with the pid that foreign-toplevel lacks taken from the processes connected to the
// compositor's socket (looked up on a window change, not per tick), or for an Xwayland window (whose peer is Xwayland)
// from Xwayland's own active window; the accessibility bus's answer, which has no app_id, through its pid. When no
// source can tell the app in front, nothing is ever in front and samplingProblem() says why; when the only source is
// the accessibility bus, samplingProblem() says which apps it cannot see; when no source tells the time since the last
// input, every second counts as away and samplingProblem() says so first. A compositor that did not answer at start or
// went away, or a session where no source worked or only a fallback did (the accessibility bus; no idle source), is
// looked at again, from 10 s up to every 5 min. Main thread only.
class WaylandDesktop : public Desktop {
public:
    struct Options {
        QByteArray display;           // empty: $WAYLAND_DISPLAY
        QString swaySocket;           // empty: $SWAYSOCK
        Millis connectTimeout{2000};  // a compositor still starting lists its globals late
        Millis idleTimeout{1000};     // the idle notification's timeout: the idle time's resolution
        QString dataHome{};           // where our GNOME Shell extension is installed; empty: the user's
        // Where a replaced KWin script or GNOME Shell extension is raised, so that the heartbeat
        // says it too; null: only the menu and the sampling check say it.
        std::shared_ptr<TamperEvidence> tamper{};
    };

    // lock may be null (never locked). The catalog must outlive this object.
    WaylandDesktop(Clock &clock, DesktopEntryCatalog &catalog, std::unique_ptr<ScreenLockMonitor> lock,
                   QDBusConnection sessionBus, Options options);
    ~WaylandDesktop() override;
    WaylandDesktop(const WaylandDesktop &) = delete;
    WaylandDesktop &operator=(const WaylandDesktop &) = delete;

    std::optional<RunningApp> frontmostApp() override;
    std::optional<double> secondsSinceInput() override;
    bool screenLocked() override;
    QString samplingProblem() override;
    // On sway: the focused window's "inhibit_idle" from the last tree (asking for a fresh one), by
    // the pid sway gives for that window. Elsewhere false.
    bool frontAppWatching(const RunningApp &front) override;

    // Nothing where the idle source sees input only (Mutter's idle monitor, ext-idle-notify's input
    // notification, none at all); where it takes an idle inhibitor in force as input (KDE's idle
    // protocol, ext-idle-notify version 1), whether the compositor itself shows one now: sway's tree
    // (read from the last one, a fresh one asked for), else false (KWin lists none). Cheap.
    std::optional<bool> idleInhibition();

    const SourceChoice &choice() const { return m_choice; }
    // The title of the window in front at the last frontmostApp(), where the source tells it (sway,
    // foreign-toplevel, KDE's window list, our KWin script and GNOME Shell extension); empty elsewhere
    // or with nothing in front. Free.
    const QString &frontTitle() const { return m_frontTitle; }
    // Why our own part inside the desktop's shell (the KWin script, the GNOME Shell extension) has
    // been replaced or imitated, once that was seen; empty otherwise. It is also the sampling problem.
    QString replacedSource() const;

    // Whether this process runs in a Wayland session ($WAYLAND_DISPLAY or XDG_SESSION_TYPE=wayland).
    static bool isWaylandSession();

private:
    struct Window;
    // Finds what the session offers, chooses the sources and starts them, replacing earlier ones.
    void start();
    // While only a fallback works: whether a better source works now, tried without disturbing the
    // sources in use (costs a connection attempt, or one KWin script or extension set-up).
    bool betterOffered();
    std::optional<RunningApp> resolve(const Window &window);
    void askMutterIdle();
    qint64 peerPid(const QString &appId);
    std::optional<RunningApp> xwaylandFront();
    // Why the chosen source cannot tell the app in front (or which apps it cannot see); empty when it can.
    QString frontProblem();

    Clock &m_clock;
    DesktopEntryCatalog &m_catalog;
    std::unique_ptr<ScreenLockMonitor> m_lock;
    QDBusConnection m_bus;
    Options m_options;
    Millis m_retryAt{0};
    Millis m_retryDelay{10000};
    std::unique_ptr<WaylandClient> m_wayland;
    std::unique_ptr<SwayIpc> m_sway;
    std::unique_ptr<X11Desktop> m_xwayland;  // Xwayland's display, for X windows without a pid
    std::unique_ptr<KwinScript> m_kwin;
    std::unique_ptr<GnomeExtension> m_gnome;
    std::unique_ptr<atspi::AtspiActiveFrame> m_atspi;
    QString m_socketPath;                                     // the compositor's socket, whose peers name pids
    std::map<QString, std::pair<qint64, Millis>> m_peerPids;  // app_id -> pid found among them (0: none), when
    SourceChoice m_choice;
    QString m_compositor;
    QString m_loggedChoice;  // the last choice logged

    std::unique_ptr<Window> m_lastWindow;
    std::optional<RunningApp> m_lastApp;
    QString m_frontTitle;
    bool m_warnedAmbiguous = false;
    bool m_toplevelGate = false;  // the window list confirms that some window has focus

    std::unique_ptr<QObject> m_context;  // owns the pending D-Bus calls
    TimerHandle m_mutterAsking;          // keeps Mutter's answer fresh between the sampler's questions
    bool m_mutterPending = false;
    std::optional<double> m_mutterIdleSeconds;  // the last answer...
    Millis m_mutterAnsweredAt{0};               // ...and when it came
};

}  // namespace fennimar
