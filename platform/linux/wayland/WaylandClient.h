#pragma once

#include "core/Clock.h"
#include "platform/linux/wayland/NotifiedIdle.h"
#include "platform/linux/wayland/ToplevelTracker.h"
#include "platform/linux/wayland/WaylandSources.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class QSocketNotifier;
struct wl_display;

namespace fennimar {

// One connection to the Wayland compositor through libwayland-client: the globals it advertises,
// and, once started, its window list (wlr foreign-toplevel management, else KDE's plasma window
// management, which KWin offers only to installed programs it knows) and an idle notification
// (ext-idle-notify-v1 or org_kde_kwin_idle). The display's fd is watched by a socket notifier, so
// events are read on the main loop as they come; pump() reads what is waiting without blocking, for
// callers that do not run the loop. Every wait for the compositor is bounded. Main thread only.
class WaylandClient {
public:
    // Connects to display (empty: $WAYLAND_DISPLAY) and reads its globals, waiting at most timeout.
    WaylandClient(Clock &clock, const QByteArray &display, Millis timeout);
    ~WaylandClient();
    WaylandClient(const WaylandClient &) = delete;
    WaylandClient &operator=(const WaylandClient &) = delete;

    bool connected() const { return m_display != nullptr && !m_lost; }
    // The interface names the registry advertised (empty when not connected).
    const QSet<QString> &globals() const { return m_globalNames; }
    // The command name of the process at the other end of the socket ("sway", "weston"), or empty.
    QString compositorName() const;

    // Binds the window list (foreign-toplevel, else plasma window management) and reads its first
    // state, waiting at most timeout. False when the compositor offers neither or did not answer.
    bool startToplevels(Millis timeout);
    // Asks for an idle notification after idleTimeout without input, from the given source (ext or
    // KDE): ext-idle-notify's input-only one (version 2) where offered, which ignores idle
    // inhibitors. False when the compositor does not offer it.
    bool startIdle(IdleSource source, Millis idleTimeout);
    // Whether the idle notification started counts input alone; false where it also counts idle
    // inhibitors (ext-idle-notify version 1, KDE's), so that a film in view keeps the user "active".
    bool idleIsInputOnly() const { return m_idleInputOnly; }

    // Reads and dispatches the events waiting on the socket, without blocking, and ends the batch.
    void pump();
    bool lost() const { return m_lost; }
    // Whether the compositor ended the window list (it then says nothing more about windows).
    bool toplevelsFinished() const { return m_toplevelsFinished; }

    const ToplevelTracker &toplevels() const { return m_toplevels; }
    // Seconds since input from the idle notification; nothing when none was started or it is lost.
    std::optional<double> idleSeconds() const;

    struct Globals;  // the bound objects and their listeners' glue

private:
    bool roundtrip(Millis timeout);
    void readAndDispatch(bool block, Millis timeout);
    void markLost(const char *why);

    Clock &m_clock;
    wl_display *m_display = nullptr;
    std::unique_ptr<Globals> m_globals;
    QSet<QString> m_globalNames;
    std::unique_ptr<QSocketNotifier> m_notifier;
    ToplevelTracker m_toplevels;
    std::optional<NotifiedIdle> m_idle;
    bool m_lost = false;
    bool m_idleInputOnly = false;
    bool m_toplevelsFinished = false;

    friend struct WaylandListeners;
};

}  // namespace fennimar
