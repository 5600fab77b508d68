#include "measure/UsageReporter.h"

#include "core/Log.h"

namespace fennimar {

UsageReporter::UsageReporter(BackendClient client, DayLedger &ledger, PairedIdentity identity, Clock &clock,
                             const SystemInfo &system)
    : m_client(std::move(client)), m_ledger(ledger), m_identity(std::move(identity)), m_clock(clock), m_system(system)
{
}

QCoro::Task<void> UsageReporter::report(CancelToken cancel)
{
    const DayRecord today = m_ledger.today(m_clock.now());
    const std::vector<DayRecord> backfill = backfillFor(m_clock.now());

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
        const ClientError &error = result.error();
        if (error.kind == ClientError::Kind::Status && (error.code == 400 || error.code == 422))
            afterRefusal(backfill);
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
    afterSuccess(m_clock.now());
    m_ledger.prune(pruneDays, m_clock.now());
    m_ledger.save();
    m_lastReport = m_clock.now();
    m_lastError.reset();
    m_failingSince.reset();
    Log::info(
        QStringLiteral("usage reported · today=%1s · backfill=%2 day(s)").arg(today.total()).arg(backfill.size()));
}

std::vector<DayRecord> UsageReporter::backfillFor(const QDateTime &now) const
{
    const std::vector<DayRecord> pending = m_ledger.unreportedBackfill(now, m_refused);
    switch (m_mode) {
        case Mode::AllDays:
            return pending;
        case Mode::TodayAlone:
            return {};
        case Mode::OneDay:
            for (const DayRecord &day : pending) {
                if (!m_probe.empty() && day.date == m_probe.front())
                    return {day};
            }
            return {};
    }
    return pending;
}

void UsageReporter::afterRefusal(const std::vector<DayRecord> &sent)
{
    switch (m_mode) {
        case Mode::AllDays:
            m_mode = Mode::TodayAlone;
            Log::info(QStringLiteral("usage report refused · sending today alone, then each day alone"));
            return;
        case Mode::TodayAlone:
            m_mode = Mode::AllDays;  // today itself is refused: nothing to single out
            return;
        case Mode::OneDay:
            if (sent.size() == 1) {
                m_refused.insert(sent.front().date);
                Log::warn(
                    QStringLiteral("usage day refused by the backend · %1 · no longer offered, kept in the ledger")
                        .arg(sent.front().date));
            }
            if (!m_probe.empty())
                m_probe.erase(m_probe.begin());
            if (m_probe.empty())
                m_mode = Mode::AllDays;
            return;
    }
}

void UsageReporter::afterSuccess(const QDateTime &now)
{
    switch (m_mode) {
        case Mode::AllDays:
            return;
        case Mode::TodayAlone:
            m_probe.clear();
            for (const DayRecord &day : m_ledger.unreportedBackfill(now, m_refused))
                m_probe.push_back(day.date);
            m_mode = m_probe.empty() ? Mode::AllDays : Mode::OneDay;
            return;
        case Mode::OneDay:
            if (!m_probe.empty())
                m_probe.erase(m_probe.begin());
            if (m_probe.empty())
                m_mode = Mode::AllDays;
            return;
    }
}

}  // namespace fennimar
