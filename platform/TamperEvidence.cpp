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
    remember(source + QStringLiteral(" · ") + reason);
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
    remember(reason);
}

void TamperEvidence::remember(QString what)
{
    m_undelivered.emplace_back(m_seen, std::move(what));
    if (m_undelivered.size() > std::size_t(maxUndelivered))
        m_undelivered.pop_front();
    if (onUndeliveredChanged)
        onUndeliveredChanged();
}

QStringList TamperEvidence::undelivered() const
{
    QStringList out;
    for (const auto &entry : m_undelivered)
        out << entry.second;
    return out;
}

void TamperEvidence::delivered(quint64 count)
{
    const std::size_t before = m_undelivered.size();
    while (!m_undelivered.empty() && m_undelivered.front().first <= count)
        m_undelivered.pop_front();
    if (m_undelivered.size() != before && onUndeliveredChanged)
        onUndeliveredChanged();
}

QString TamperEvidence::standing() const
{
    return QStringList(m_standing.begin(), m_standing.end()).join(QStringLiteral("; "));
}

}  // namespace fennimar
