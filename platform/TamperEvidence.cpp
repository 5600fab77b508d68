#include "platform/TamperEvidence.h"

#include "core/Log.h"

#include <QStringList>

namespace fennimar {

void TamperEvidence::raise(const QString &source, const QString &reason)
{
    auto it = m_standing.find(source);
    if (it != m_standing.end() && *it == reason)
        return;
    ++m_seen;
    m_standing.insert(source, reason);
    Log::warn(QStringLiteral("tamper evidence · %1 · %2").arg(source, reason));
}

void TamperEvidence::clear(const QString &source)
{
    if (m_standing.remove(source) > 0)
        Log::info(QStringLiteral("tamper evidence gone · %1").arg(source));
}

void TamperEvidence::note(const QString &reason)
{
    ++m_seen;
    Log::warn(QStringLiteral("tamper evidence · ") + reason);
}

QString TamperEvidence::standing() const
{
    return QStringList(m_standing.begin(), m_standing.end()).join(QStringLiteral("; "));
}

}  // namespace fennimar
