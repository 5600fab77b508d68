#include "services/RunMarker.h"

#include "core/DurableFile.h"
#include "core/Log.h"

namespace fennimar {

namespace {
const QByteArray kRunning = "running since ";
const QByteArray kQuit = "quit ";

void write(const QString &path, const QByteArray &bytes)
{
    if (const Status written = writeFileAtomically(path, bytes); !written)
        Log::warn(QStringLiteral("cannot record the run's state · %1").arg(written.error()));
}
}  // namespace

RunMarker::RunMarker(const QString &directory) : m_path(directory + QStringLiteral("/run-state")) {}

bool RunMarker::begin(const QDateTime &now)
{
    const FileRead previous = readSmallFile(m_path, 256);
    if (!previous.error.isEmpty())
        Log::warn(QStringLiteral("cannot read how the previous run ended · %1").arg(previous.error));
    const bool unclean = previous.error.isEmpty() && previous.bytes.startsWith(kRunning);
    if (unclean) {
        Log::warn(QStringLiteral("previous run ended without a clean quit (killed, crashed or the power went) · "
                                 "it had started %1")
                      .arg(QString::fromUtf8(previous.bytes.mid(kRunning.size()).trimmed())));
    }
    write(m_path, kRunning + now.toUTC().toString(Qt::ISODate).toUtf8() + '\n');
    return unclean;
}

void RunMarker::end(const QDateTime &now)
{
    write(m_path, kQuit + now.toUTC().toString(Qt::ISODate).toUtf8() + '\n');
}

}  // namespace fennimar
