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

// Runs a program in env within timeoutMs; its output, or nothing on failure, non-zero exit or overrun (killed).
std::optional<QByteArray> runProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                                     int timeoutMs);

// The names of the listed programs that are not on PATH.
QStringList missingTools(const QStringList &programs);

// Ends a program started as the leader of a process group of its own (setsid) with all it started:
// TERM to the leader, graceMs for it to end the rest in its own order, then TERM and KILL to the group
// until none of it is left (4 s at most after the grace).
void endProcessGroup(QProcess &leader, int graceMs);

// A private Xvfb + openbox desktop (optionally a session and accessibility bus) in a temporary home; each
// program in its own process group, killed with the session; waits are on events, with generous ceilings.
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
    // openbox's pid, for a test that must pause it (it moves a focus set to PointerRoot back).
    qint64 windowManagerPid() const { return m_processes.empty() ? 0 : m_processes.front()->processId(); }

    // Starts a program here (own process group, stderr in <home>/<program>.log); nullptr when it fails.
    QProcess *spawn(const QString &program, const QStringList &args, QProcessEnvironment env = {});

    // Runs a tool on this display to completion (bounded); its standard output, or nothing on failure.
    std::optional<QByteArray> run(const QString &program, const QStringList &args, int timeoutMs = 10000) const;
    bool xdotool(const QStringList &args) const { return run("xdotool", args).has_value(); }

    // An xterm (font named: no bitmap font hunt) with these arguments; its window id once mapped (60 s), or "".
    QString openTerminal(const QStringList &args, qint64 *pid = nullptr);
    // Activates the window until the window manager says so, asking every second for up to 30 s.
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
