#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace fennimar::test {

// A headless Wayland compositor (sway, weston, KWin, GNOME Shell) in a private runtime directory, with its clients.
// As root (CI), it and its clients run as nobody: sway refuses root, and a compositor should never
// run with more rights than a session has. "{config}" in the arguments becomes the path of a sway
// configuration without Xwayland. Check skip (empty when it runs) before use.
class HeadlessCompositor {
public:
    // env: "NAME=value" for the compositor and every client.
    HeadlessCompositor(const QString &program, const QStringList &args, const QStringList &env = {});
    ~HeadlessCompositor();

    // Starts a client in the session (as its user; the pid is the program's); killed at the end.
    QProcess *start(const QString &program, const QStringList &args);
    // Runs a sway command through swaymsg; false when it failed.
    bool sway(const QString &command);

    QString skip;
    QByteArray display;  // the absolute path of the Wayland socket
    QString swaySocket;
    QStringList extraEnv;  // "NAME=value", added to the environment of the clients started after

    // The arguments of "sh" that run command (a shell line; $PWD is the runtime directory) beside a
    // private session bus of the compositor's user that lets root in too, and a second one as the
    // system bus, which GNOME Shell needs; with xvfb, DISPLAY names a private Xvfb.
    static QStringList withBuses(const QString &command, bool xvfb = false);
    // That session bus's address (written beside the socket), or empty.
    QString sessionBus() const;

private:
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_clients;
};

}  // namespace fennimar::test
