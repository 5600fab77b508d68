#include "services/RunMarker.h"

#include "core/DurableFile.h"
#include "core/Log.h"

namespace fennimar {

namespace {
const QByteArray kRunning = "running since ";
const QByteArray kQuit = "quit ";
const QByteArray kEvidence = "evidence ";
}  // namespace

RunMarker::RunMarker(const QString &directory) : m_path(directory + QStringLiteral("/run-state")) {}

bool RunMarker::begin(const QDateTime &now)
{
    const FileRead previous = readSmallFile(m_path, maxBytes);
    if (!previous.error.isEmpty())
        Log::warn(QStringLiteral("cannot read how the previous run ended · %1").arg(previous.error));
    const QList<QByteArray> lines = previous.error.isEmpty() ? previous.bytes.split('\n') : QList<QByteArray>{};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].startsWith(kEvidence))
            m_undelivered << QString::fromUtf8(lines[i].mid(kEvidence.size()));
    }
    const bool unclean = !lines.isEmpty() && lines.front().startsWith(kRunning);
    if (unclean) {
        const QString started = QString::fromUtf8(lines.front().mid(kRunning.size()).trimmed());
        Log::warn(QStringLiteral("previous run ended without a clean quit (killed, crashed or the power went) · "
                                 "it had started %1")
                      .arg(started));
        m_undelivered << QStringLiteral("the previous run ended without a clean quit · it had started ") + started;
    }
    m_state = kRunning + now.toUTC().toString(Qt::ISODate).toUtf8();
    write();
    return unclean;
}

void RunMarker::end(const QDateTime &now)
{
    m_state = kQuit + now.toUTC().toString(Qt::ISODate).toUtf8();
    write();
}

void RunMarker::keep(const QStringList &evidence)
{
    if (evidence == m_undelivered)
        return;
    m_undelivered = evidence;
    write();
}

void RunMarker::write() const
{
    QByteArray bytes = m_state + '\n';
    for (const QString &evidence : m_undelivered) {
        // One line each, and the whole within what begin() reads back.
        const QByteArray line = kEvidence + Log::escapeControls(evidence).left(600).toUtf8() + '\n';
        if (bytes.size() + line.size() > maxBytes)
            break;
        bytes += line;
    }
    if (const Status written = writeFileAtomically(m_path, bytes); !written)
        Log::warn(QStringLiteral("cannot record the run's state · %1").arg(written.error()));
}

}  // namespace fennimar
