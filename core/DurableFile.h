#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace fennimar {

enum class Durability {
    Synced,      // the data and the directory entry reach the disk before this returns
    AtomicOnly,  // readers see the old or the new file whole, but a power cut may lose the new one
};

// Replaces the file at path with bytes: writes a temporary file in the same directory (mode 0600),
// flushes it, renames it over path, then syncs the directory. A crash or power cut at any moment
// leaves either the old file or the new one, whole; the temporary file such a crash leaves is
// removed by the next successful write of the same path. Costs one fsync of the file and one of the
// directory when Synced, and one listing of the directory. On failure path is untouched, the
// temporary file is removed and the reason names the step that failed.
Status writeFileAtomically(const QString &path, const QByteArray &bytes, Durability durability = Durability::Synced);

// Whether the last component of a path may be a symbolic link. Files the agent writes itself are
// read with Refuse, so nobody can point them elsewhere; system files that distributions ship as
// links (/etc/os-release, desktop entries) are read with Follow.
enum class Links { Refuse, Follow };

// Reads a whole regular file of at most maxBytes. A missing file gives notFound = true; a larger
// file is refused without being read. Never blocks on what stands at path: it is opened
// non-blocking and must be a regular file by fstat, so a FIFO, a directory, a device, a socket or
// (with Refuse) a symbolic link gives an error that names what was found. Costs one open, one
// fstat and one read of at most maxBytes + 1.
struct FileRead {
    QByteArray bytes;
    bool notFound = false;
    QString error;  // empty on success
};
FileRead readSmallFile(const QString &path, qint64 maxBytes, Links links = Links::Refuse);

// What kind of thing a stat mode names, for log lines: "a FIFO", "a directory", "a device", ...
QString fileTypeName(unsigned mode);

// Makes path a directory that only this user can enter: creates it (with its parents) mode 0700
// when missing, and tightens it to 0700 when its mode lets others in. Refuses, without changing
// anything, a path that is not a directory (a symbolic link to one is followed) or that belongs to
// another user. Answers whether the mode had to be tightened; the error is a sentence naming the
// path and what is wrong. A few file-system calls.
Result<bool> makePrivateDirectory(const QString &path);

// Moves an unreadable file aside as "<base>-unreadable-<yyyyMMdd-HHmmss><suffix>" beside it so that
// nothing a user had is destroyed; falls back to a copy of a regular file when it cannot be renamed
// (anything else, a FIFO for one, is never opened). Returns the new
// path, or an error when neither worked.
Result<QString> keepAside(const QString &path, const QDateTime &when);

}  // namespace fennimar
