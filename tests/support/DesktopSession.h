#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace fennimar::test {

// Runs the event loop until pred() holds or timeoutMs passes; returns pred()'s last answer.
bool waitUntil(const std::function<bool()> &pred, int timeoutMs = 5000, int stepMs = 10);

// Runs a program to completion within timeoutMs in env; its standard output, or nothing when it
// failed, exited non-zero or overran (then it is killed).
std::optional<QByteArray> runProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                                     int timeoutMs);

// The names of the listed programs that are not on PATH.
QStringList missingTools(const QStringList &programs);

// The one private desktop of the real-peer tests: an Xvfb display on a free number (-displayfd) with
// openbox managing it and, when asked, a private session bus with the accessibility bus on it and the
// desktop's accessibility switched on. HOME and the XDG directories point into a temporary directory,
// so nothing touches the user's own settings. Every program runs in its own process group and is
// killed with the session.
// Waits are on the event that matters (window manager selection owned, window mapped, window
// active, bus name answering) with ceilings generous enough for a cold first run.
class DesktopSession {
public:
    DesktopSession() = default;
    ~DesktopSession();
    DesktopSession(const DesktopSession &) = delete;
    DesktopSession &operator=(const DesktopSession &) = delete;

    // Empty when ready; otherwise why not ("missing <tool>", or a peer that did not start).
    QString start(bool accessibility = false);

    QByteArray display() const { return m_display; }
    QDBusConnection sessionBus() const { return QDBusConnection(m_connectionName); }
    QProcessEnvironment environment() const;
    QString home() const { return m_home.path(); }

    // Starts a program on this desktop (in its own process group, standard error kept in
    // <home>/<program>.log); nullptr when it does not start.
    QProcess *spawn(const QString &program, const QStringList &args, QProcessEnvironment env = {});

    // Runs a tool on this display to completion (bounded); its standard output, or nothing on failure.
    std::optional<QByteArray> run(const QString &program, const QStringList &args, int timeoutMs = 10000) const;
    bool xdotool(const QStringList &args) const { return run("xdotool", args).has_value(); }

    // Opens an xterm with these extra arguments and returns its window id once the window is mapped
    // (up to 60 s: a cold first start loads fonts and caches), or an empty string. The font is named,
    // so xterm never hunts for the bitmap fonts a minimal machine lacks.
    QString openTerminal(const QStringList &args, qint64 *pid = nullptr);
    // Activates the window and waits until the window manager says it is active, asking again every
    // second (a window manager busy mapping other windows may drop a request) for up to 30 s.
    bool activate(const QString &windowId) const;

private:
    QString startX();
    QString startBus();

    QTemporaryDir m_home;
    QByteArray m_display;
    QString m_busAddress;
    QString m_connectionName = QStringLiteral("desktop-session-%1").arg(quintptr(this));
    std::unique_ptr<QProcess> m_server;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

}  // namespace fennimar::test
