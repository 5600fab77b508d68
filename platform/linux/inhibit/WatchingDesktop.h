#pragma once

#include "core/Clock.h"
#include "platform/Desktop.h"
#include "platform/linux/inhibit/BusInhibitCalls.h"
#include "platform/linux/inhibit/GnomeInhibitors.h"
#include "platform/linux/inhibit/KdeInhibitions.h"
#include "platform/linux/inhibit/MprisPlayers.h"
#include "platform/linux/inhibit/PageMemory.h"
#include "platform/linux/x11/X11RawInput.h"

#include <QDBusConnection>
#include <QLocalSocket>

#include <functional>
#include <memory>
#include <optional>

namespace fennimar {

// A Linux desktop that also tells whether the front app holds a video inhibitor, from the desktop's
// own answer (sway), Hyprland's active window, and the lists GNOME's session manager and KDE's power daemon keep (each
// empty where its service does not run), with the callers' pids a bus monitor saw; and on X11 it does not take a reset
// of the idle counter for input. Everything else is the wrapped desktop's answer. Main thread only.
class WatchingDesktop final : public Desktop {
public:
    // monitor: a second connection to the session bus, for the Inhibit calls' callers. rawInput:
    // null where there is no X display of the session (Wayland). hyprlandSocket: Hyprland's request
    // socket, empty where Hyprland does not run.
    WatchingDesktop(Clock &clock, std::unique_ptr<Desktop> desktop, QDBusConnection session, QDBusConnection monitor,
                    std::unique_ptr<X11RawInput> rawInput = nullptr, QString hyprlandSocket = {});

    // The wrapped desktop's answer. While input cannot be seen, another app coming to the front is
    // taken for input: the user switched windows.
    std::optional<RunningApp> frontmostApp() override;
    // The desktop's answer, or the time since the last raw input event when that is longer: a
    // player that resets the X idle counter did not make the user present. Without raw input, a
    // drop of the desktop's idle time within 3 s of GNOME's last idle inhibitor going is not input
    // either: Mutter restarts its idle time then, so every pause or end of a video (Chromium drops
    // its lock between autoplayed videos) made the user present and restarted the 3-hour bound.
    // Nor is one near a resume, a lid opened or a power change (see watchSystemResets).
    // Where the idle source takes an idle inhibitor in force as input (see setIdleInhibition), the
    // time since the input seen before one came into force (by the compositor, GNOME's or KDE's
    // list, or the bus monitor), until its count, restarted when the last one went, falls behind
    // the time since then, which only input does.
    std::optional<double> secondsSinceInput() override;
    bool screenLocked() override { return m_desktop->screenLocked(); }
    // The wrapped desktop's problem; while input cannot be seen, also that.
    QString samplingProblem() override;
    bool inputHidden() override { return m_hidden; }
    // Where the idle source takes an idle inhibitor in force as input: a function telling whether
    // the compositor itself shows one in force, nothing where the source sees input only; cheap.
    // Unset: input is always seen (X11, GNOME).
    void setIdleInhibition(std::function<std::optional<bool>()> inhibition) { m_inhibition = std::move(inhibition); }
    // Takes a drop of the idle time within 3 s of a resume, a lid opened or the power cable plugged
    // or pulled, as the system bus tells them, for the reset Mutter makes then, not for input.
    void watchSystemResets(QDBusConnection system);
    // Never for an app whose desktop entry is a game (read once per entry: a small local file). Else
    // the wrapped desktop's own answer, else Hyprland's previous answer (one request sent per call,
    // never waited for), else the cached lists against the front app (by pid where known, else by
    // name; see Inhibitor.h) and the front process's executable, read once per process: a
    // readlink, no bus call. A film so found is not watched while the front app's MPRIS players
    // deny it (see playersDenyFilm; the players are listed only then), with the focused page read
    // since that app came to the front.
    bool frontAppWatching(const RunningApp &front) override;
    // The page last read in a browser's focused window (see PageMemory); unset, none is known.
    void setFocusedPage(std::shared_ptr<const FocusedPage> page) { m_page = std::move(page); }

private:
    void askHyprland();
    double withoutReleaseResets(double idle);
    void idleReset();
    double withoutHiddenInput(double idle);
    bool idleInhibited();
    void gnomeChanged();
    bool frontIsGame(const RunningApp &front);
    bool frontHoldsInhibitor(const RunningApp &front);
    const QString &executableOf(const RunningApp &front);

    Clock &m_clock;
    std::unique_ptr<Desktop> m_desktop;
    GnomeInhibitors m_gnome;
    KdeInhibitions m_kde;
    BusInhibitCalls m_calls;
    MprisPlayers m_players;
    std::unique_ptr<X11RawInput> m_rawInput;
    // A restart of the desktop's idle count (seconds on the clock): when, the idle time it took
    // away, when it was seen.
    struct Reset {
        double at = 0, before = 0, seenAt = -1e9;
    };
    struct Last {
        double idle = 0, answer = 0, seenAt = 0;
    };
    std::optional<Reset> m_reset;  // the one no input caused, while no input came since
    Reset m_drop;                  // the last drop taken for input
    std::optional<Last> m_last;    // the desktop's idle time and the answer last given
    double m_releasedAt = -1e9;    // when GNOME's last idle inhibitor went
    bool m_gnomeIdleInhibited = false;
    std::unique_ptr<QObject> m_systemResets;
    std::function<std::optional<bool>()> m_inhibition;
    bool m_hidden = false;                // input could not be seen at the last reading
    std::optional<double> m_hiddenUntil;  // when it last could not, while the idle count is not believed
    double m_inputAt = 0;                 // the last input seen (seconds on the clock)
    std::optional<RunningApp> m_front;    // the app in front at the last frontmostApp()
    Millis m_frontSince{0};               // when it came to the front
    std::shared_ptr<const FocusedPage> m_page;
    qint64 m_exePid = 0;
    QString m_executable;  // of m_exePid
    QString m_entryPath;   // the front app's desktop entry last read
    bool m_game = false;   // whether it is in the Game category
    QString m_hyprlandSocket;
    std::unique_ptr<QLocalSocket> m_hyprland;  // the request in flight
    QByteArray m_hyprlandReply;
    qint64 m_hyprlandInhibitor = 0;  // the pid of Hyprland's active window while it inhibits idle
};

}  // namespace fennimar
