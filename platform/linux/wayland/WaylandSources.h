#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace fennimar {

// What a Wayland session really offers this agent, found once at start.
struct WaylandOffer {
    QString compositor;             // the compositor's name for people ("sway", "weston"); may be empty
    bool connected = false;         // the Wayland display accepted our connection
    bool swayIpc = false;           // $SWAYSOCK names a socket that accepted our connection
    QSet<QString> globals;          // the interface names the compositor's registry advertised
    QSet<QString> busNames;         // session-bus names owned (org.gnome.Mutter.IdleMonitor, org.kde.KWin ...)
    bool accessibilityBus = false;  // the session bus has (or can start) org.a11y.Bus
    // Tried only where nothing before them works: empty when it runs, else why not.
    std::optional<QString> kwinScript = std::nullopt;      // our window script in KWin
    std::optional<QString> gnomeExtension = std::nullopt;  // our GNOME Shell extension
};

enum class FrontSource { SwayIpc, ForeignToplevel, PlasmaWindows, KwinScript, GnomeExtension, AtspiActiveFrame, None };
enum class IdleSource { ExtIdleNotify, KdeIdle, MutterIdleMonitor, None };

// The sources a Wayland desktop layer reads, each the first in its order that the session offers:
// for the app in front sway's IPC (it carries the pid), then wlr foreign-toplevel management, then
// KDE's plasma window management (offered only to an installed agent), then KWin running our window script, then GNOME
// Shell running our extension, then the accessibility bus's active window (any compositor, but only apps that support
// accessibility); for idle time ext-idle-notify-v1, then org_kde_kwin_idle, then Mutter's IdleMonitor. What was passed
// over and why is kept for one log line; when no front source works, problem is the sentence the user sees, naming the
// compositor and what it lacks; when the source chosen sees only some apps, limit is the sentence that says which it
// cannot see; when no idle source works, idleProblem is the sentence that says nothing can be counted.
struct SourceChoice {
    FrontSource front = FrontSource::None;
    IdleSource idle = IdleSource::None;
    QStringList passedOver;  // "<source>: <what was missing>"
    QString problem;         // empty when a front source was chosen
    QString limit;           // empty when the front source sees every app
    QString route;           // why the desktop's own route (our KWin script or GNOME Shell extension) failed
    QString idleProblem;     // empty when an idle source was chosen: without one every second counts as away

    QString logLine() const;
};

SourceChoice chooseSources(const WaylandOffer &offer);
// Whether the session offers a window list of its own (sway's IPC, wlr foreign-toplevel, plasma
// window management), which chooseSources prefers to the routes that run inside a desktop's shell.
bool offersWindowList(const WaylandOffer &offer);

QString frontSourceName(FrontSource source);
QString idleSourceName(IdleSource source);

}  // namespace fennimar
