#pragma once

#include <QString>

namespace fennimar {

// The file a path names or a process runs, as the kernel knows it: device, inode and owner. A path
// is not a file: in a user namespace, which needs no privilege, any file can be mounted over a
// root-owned path, and /proc/<pid>/exe then reads as that path while the process runs the copy.
// Read through the link itself, device and inode name the file that runs, wherever it is mounted.
struct ProgramFile {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 owner = -1;
    bool removed = false;  // no name left: replaced (a package upgrade) while it runs

    bool exists() const { return inode != 0; }
    bool sameFile(const ProgramFile &other) const { return exists() && device == other.device && inode == other.inode; }

    // One stat, links followed; nothing (exists() false) when the file cannot be read.
    static ProgramFile at(const QString &path);
    // The file pid runs (/proc/<pid>/exe); nothing for a pid that is gone, 0 or another user's.
    static ProgramFile ofProcess(qint64 pid);
    // The path /proc/<pid>/exe names, without the " (deleted)" a replaced file reads with; a name
    // only, to be checked against the file (runsRootFileAt). One readlink; empty when unreadable.
    static QString linkOf(qint64 pid);
    // The path pid's program reads as, when it is the root-owned file at that path in our own view
    // of the file system; empty otherwise (a copy mounted over the path, a user's file, a pid gone).
    static QString runsRootFileAt(qint64 pid);
};

}  // namespace fennimar
