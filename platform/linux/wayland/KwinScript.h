#pragma once

#include "core/Clock.h"
#include "platform/linux/wayland/ShellWindow.h"

#include <QDBusConnection>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace fennimar {

// The app in front on KDE Plasma without the window-management protocol (which KWin offers only to
// installed programs it knows): a small KWin script, loaded over D-Bus, calls this object on the
// session bus with the window that gains focus. Only calls from KWin's own connection are taken.
// A session client can unload the script at any time, so frontmost() asks KWin once a minute
// whether it is still loaded and loads it again when not. Main thread only.
class KwinScript {
public:
    // Loads the script into the KWin on bus; waits at most timeout for each of its three calls.
    KwinScript(Clock &clock, QDBusConnection bus, Millis timeout);
    ~KwinScript();
    KwinScript(const KwinScript &) = delete;
    KwinScript &operator=(const KwinScript &) = delete;

    // Whether KWin took and ran the script; when not, error() says why.
    bool loaded() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    // The window KWin last reported in focus; nothing before its first report, while no window has
    // focus, or after KWin stopped answering. Costs nothing but, once a minute, one asynchronous
    // D-Bus call.
    std::optional<ShellWindow> frontmost();

private:
    class Receiver;
    bool load();
    void recheck();

    Clock &m_clock;
    QDBusConnection m_bus;
    Millis m_timeout;
    QTemporaryDir m_dir;  // holds the script while KWin reads it
    std::unique_ptr<Receiver> m_receiver;
    QString m_kwin;  // KWin's unique name on the bus: the only caller heard
    QString m_error;
    std::optional<ShellWindow> m_front;
    Millis m_checkedAt{0};
    bool m_checking = false;
};

}  // namespace fennimar
