#pragma once

#include <QString>

#include <vector>

namespace fennimar {

// A process connected to the compositor's socket.
struct SocketPeer {
    qint64 pid = 0;
    QString comm;        // /proc/PID/comm
    QString executable;  // /proc/PID/exe, symlinks resolved
};

// The pid of a window's process where the window list carries only an app_id (wlr foreign-toplevel
// on Hyprland, Wayfire, labwc, river...): the processes connected to the compositor's socket, found
// as `ss -xp` does (a NETLINK_SOCK_DIAG dump of the Unix sockets for the peers of the sockets bound
// to its path, then /proc/*/fd for the processes that hold those peers), matched by app_id.
namespace SocketPeers {

// Whether the peer's program is app_id: the executable's file name or comm equal to it, or to the
// last part of a reverse-DNS id (org.gnome.Nautilus -> nautilus), ignoring case.
bool isProgram(const QString &appId, const SocketPeer &peer);

// The processes, other than this one, whose program is app_id and that are connected to the Unix
// socket at path. One netlink dump (bounded by a 500 ms receive timeout), comm and exe of every
// process, and the descriptors of those whose program matches: a few milliseconds, meant for a
// window change, not for every tick. Other users' descriptors are unreadable, so their processes
// never count. Empty on any failure.
std::vector<SocketPeer> connectedTo(const QString &path, const QString &appId);

// The pid among peers whose program is app_id. Several processes of one executable (instances of
// one app) give the lowest pid; matches of different executables give 0, because naming the wrong
// app is worse than naming none.
qint64 pidFor(const QString &appId, const std::vector<SocketPeer> &peers);

}  // namespace SocketPeers

}  // namespace fennimar
