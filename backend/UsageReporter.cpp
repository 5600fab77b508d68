#include "backend/UsageReporter.h"

#include "agent/Log.h"

namespace fennimar {

UsageReporter::UsageReporter(BackendClient client, DayLedger &ledger, PairedIdentity identity, Clock &clock,
                             const SystemInfo &system)
    : m_client(std::move(client)), m_ledger(ledger), m_identity(std::move(identity)), m_clock(clock), m_system(system)
{
}

QCoro::Task<void> UsageReporter::report(CancelToken cancel)
{
    const DayRecord today = m_ledger.today(m_clock.now());
    const std::vector<DayRecord> backfill = m_ledger.unreportedBackfill(m_clock.now());

    const auto result =
        co_await m_client.reportUsage(m_identity.sessionToken, m_identity.deviceId, today, backfill, m_system, cancel);
    if (!result) {
        if (cancel.isCancelled())
            co_return;  // stopped on purpose (unpair): neither a failure nor a report
        const QString description = result.error().description();
        m_lastError = description;
        if (!m_failingSince)
            m_failingSince = m_clock.now();
        Log::warn(QStringLiteral("usage report failed · ") + description);
        co_return;
    }

    // Each day is marked with the total that was sent, not the one it has now: seconds credited while
    // the request was in flight were not confirmed, so the day is offered again next time.
    auto &days = m_ledger.days();
    for (const DayRecord &sent : backfill) {
        auto entry = days.find(sent.date);
        if (entry == days.end())
            continue;
        entry->second.reportedTotal = sent.total();
        m_ledger.markChanged();
    }
    m_ledger.prune(pruneDays, m_clock.now());
    m_ledger.save();
    m_lastReport = m_clock.now();
    m_lastError.reset();
    m_failingSince.reset();
    Log::info(
        QStringLiteral("usage reported · today=%1s · backfill=%2 day(s)").arg(today.total()).arg(backfill.size()));
}

}  // namespace fennimar
