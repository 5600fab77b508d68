#pragma once

#include "core/Clock.h"
#include "platform/Desktop.h"
#include "platform/linux/session/ScreenLockMonitor.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace fennimar {

class DesktopEntryCatalog;

// The desktop of an X11 session, read through xcb. The frontmost app follows the root window's
// _NET_ACTIVE_WINDOW: a change notification marks it stale, and only then is the new window's
// pid and class read (in one batch) and mapped to its desktop entry; otherwise a tick costs one
// event poll. Any client can rewrite that property, so each change is checked against the input
// focus: when they name different client windows the focus's decides, both are read again on every
// tick until they agree, and a disagreement that lasts 5 s is a sampling problem and tamper
// evidence. Idle time is the MIT-SCREEN-SAVER extension's time since user input; the screen lock
// comes from a ScreenLockMonitor's cached answer.
//
// No call waits on the X server longer than a short deadline. A lost connection gives "no
// frontmost app" and an unknown idle time, one WARN line, and a bounded series of reconnect attempts
// spaced out on the clock. Without a display (none given, $DISPLAY unset) nothing is frontmost and
// one WARN line says so. A Wayland session is read by WaylandDesktop, which asks one of these on
// Xwayland's display only about a window it knows to be an X window. Main thread only.
class X11Desktop : public Desktop {
public:
    // display: the X display to use; empty means $DISPLAY. lock may be null (never locked). The
    // catalog must outlive this object. evidence, when given, receives a persistent disagreement
    // between the active-window property and the focus.
    X11Desktop(Clock &clock, DesktopEntryCatalog &catalog, std::unique_ptr<ScreenLockMonitor> lock,
               QByteArray display = {}, std::shared_ptr<TamperEvidence> evidence = {});
    ~X11Desktop() override;
    X11Desktop(const X11Desktop &) = delete;
    X11Desktop &operator=(const X11Desktop &) = delete;

    std::optional<RunningApp> frontmostApp() override;
    std::optional<double> secondsSinceInput() override;
    bool screenLocked() override;
    QString samplingProblem() override;

    // The time since real input (raw device events), which the lock check then prefers: players
    // reset the screen-saver counter every few seconds (mpv 10 s, VLC 30 s), and behind a real lock
    // that would read as someone typing at it. Must stay callable while this object is asked; not
    // set, the counter alone is read.
    void setRawInput(std::function<std::optional<double>()> secondsSinceRawInput)
    {
        m_rawInput = std::move(secondsSinceRawInput);
    }

    // The most reconnect attempts after a lost connection before giving up until restart.
    static constexpr int kMaxReconnects = 8;

private:
    struct Connection;
    bool ensureConnected();
    void connectionLost();
    void refreshActiveWindow();
    std::optional<RunningApp> describeWindow(quint32 window);
    std::optional<double> queryIdle();
    quint32 clientWindowOf(quint32 window);
    void noteDisagreement(quint32 named, quint32 focused);

    Clock &m_clock;
    DesktopEntryCatalog &m_catalog;
    std::unique_ptr<ScreenLockMonitor> m_lock;
    std::function<std::optional<double>()> m_rawInput;
    QByteArray m_display;
    std::unique_ptr<Connection> m_conn;
    bool m_unsupported = false;
    QString m_unsupportedReason;  // what samplingProblem() says when unsupported
    int m_reconnectFailures = 0;
    Millis m_nextReconnect{0};
    bool m_warnedUnresponsive = false;

    bool m_activeStale = true;
    quint32 m_activeWindow = 0;
    quint32 m_focusWindow = 0;  // the input focus as last read: a window, None or PointerRoot
    std::optional<RunningApp> m_activeApp;
    Millis m_retryUnmappedAt{0};
    std::shared_ptr<TamperEvidence> m_evidence;
    std::optional<Millis> m_disagreeSince;  // since when the property and the focus name different windows
    QString m_windowProblem;                // what samplingProblem() says about it once it persists
};

}  // namespace fennimar
