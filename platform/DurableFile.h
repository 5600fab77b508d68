#pragma once

#include "platform/Result.h"

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

// Reads a whole regular file of at most maxBytes. A missing file gives notFound = true; a larger
// file is refused without being read.
struct FileRead {
    QByteArray bytes;
    bool notFound = false;
    QString error;  // empty on success
};
FileRead readSmallFile(const QString &path, qint64 maxBytes);

// Moves an unreadable file aside as "<base>-unreadable-<yyyyMMdd-HHmmss><suffix>" beside it so that
// nothing a user had is destroyed; falls back to a copy when it cannot be renamed. Returns the new
// path, or an error when neither worked.
Result<QString> keepAside(const QString &path, const QDateTime &when);

}  // namespace fennimar
