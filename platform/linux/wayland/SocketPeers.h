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

// The processes of this user, other than this one, connected to the Unix socket at path. One
// netlink dump (bounded by a 500 ms receive timeout) and a walk of /proc/*/fd: about a millisecond
// per hundred processes, so it is meant for a window change, not for every tick. Empty on any
// failure.
std::vector<SocketPeer> connectedTo(const QString &path);

// The pid among peers whose program is app_id: the executable's file name or comm equal to it, or
// to the last part of a reverse-DNS id (org.gnome.Nautilus -> nautilus), ignoring case. Several
// processes of one executable (instances of one app) give the lowest pid; matches of different
// executables give 0, because naming the wrong app is worse than naming none.
qint64 pidFor(const QString &appId, const std::vector<SocketPeer> &peers);

}  // namespace SocketPeers

}  // namespace fennimar
