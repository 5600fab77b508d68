#pragma once

#include "core/Clock.h"

#include <QByteArray>
#include <QObject>

#include <optional>

struct xcb_connection_t;
class QSocketNotifier;

namespace fennimar {

// The time since real input on an X display, from XInput 2 raw events (keys, buttons, motion,
// touch) on a connection of its own. The screen saver's idle counter also drops to 0 when a player
// resets it (mpv every 10 s, VLC every 30 s, `xset s reset`) or a suspension ends, which no input
// caused; raw events come only from devices (real ones and XTest's). To wake at most once a second
// under a moving mouse, the events are turned off for a second after each one. Main thread only.
class X11RawInput : public QObject {
    Q_OBJECT
public:
    // display: empty means $DISPLAY. Without XInput 2.2 or a display it reads nothing.
    explicit X11RawInput(Clock &clock, const QByteArray &display = {});
    ~X11RawInput() override;
    X11RawInput(const X11RawInput &) = delete;
    X11RawInput &operator=(const X11RawInput &) = delete;

    // Seconds since the last raw event, or since this object started when there was none yet (so
    // never more than the truth); nothing when raw events cannot be read. Free.
    std::optional<double> secondsSinceInput() const;

private:
    void select(bool on);
    void drain();

    Clock &m_clock;
    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    uint8_t m_opcode = 0;  // XInput's major opcode
    bool m_working = false;
    bool m_paused = false;  // events off for a second after one
    Millis m_last{0};
    QSocketNotifier *m_notifier = nullptr;
    TimerHandle m_resume;
};

}  // namespace fennimar
