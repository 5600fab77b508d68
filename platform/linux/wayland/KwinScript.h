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
// session bus with the window that gains focus. Any session client can load scripts into KWin,
// and their calls come from KWin's connection too, so ours is loaded under a random name with a
// random token that only it knows; a report is believed only from KWin's connection, with the
// token, and when KWin's own description of the window (getWindowInfo) does not contradict it. A
// call from KWin without the token, or a report KWin contradicts, is a sign that someone replaced
// or imitates the script: it is refused and problem() says so for as long as this object lives.
// A session client can unload the script at any time, so frontmost() asks KWin once a minute
// whether it (its name) is still loaded and loads it again when not. Main thread only.
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
    // What the user reads: why the script does not run, else why its reports may be forged (a foreign
    // script called with a wrong token, or KWin contradicted a report); empty while all is well.
    QString problem() const { return m_error.isEmpty() ? m_foreign : m_error; }
    // Why the reports may be forged, once seen; empty otherwise.
    QString replaced() const { return m_foreign; }

    // The window KWin last reported in focus; nothing before its first report, while no window has
    // focus, or after KWin stopped answering. Costs nothing but, once a minute, one asynchronous
    // D-Bus call.
    std::optional<ShellWindow> frontmost();

private:
    class Receiver;
    bool load();
    void recheck();
    void distrust(const QString &why);
    // Takes a report once KWin's description of window id agrees (at once when there is no id).
    void confirm(const ShellWindow &window, const QString &id);
    static QString randomHex(int bytes);

    Clock &m_clock;
    QDBusConnection m_bus;
    Millis m_timeout;
    QTemporaryDir m_dir;  // holds the script while KWin reads it
    std::unique_ptr<Receiver> m_receiver;
    QString m_kwin;  // KWin's unique name on the bus: the only caller heard
    QString m_error;
    QString m_plugin;   // this load's name in KWin
    QString m_token;    // this load's secret, written into the script
    QString m_foreign;  // why the reports may be forged; empty while none was seen
    quint64 m_reports = 0;
    std::optional<ShellWindow> m_front;
    Millis m_checkedAt{0};
    bool m_checking = false;
};

}  // namespace fennimar
