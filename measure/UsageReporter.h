#pragma once

#include "backend/BackendClient.h"
#include "backend/SystemInfo.h"
#include "measure/DayLedger.h"
#include "core/CancelToken.h"
#include "core/Clock.h"
#include "services/PairedIdentity.h"

#include <QDateTime>
#include <QString>

#include <QCoroTask>

#include <optional>

namespace fennimar {

// Sends today's record and the days the backend has not confirmed, then marks what was confirmed.
// A report the backend refuses as malformed is followed by today alone, then by each unconfirmed
// day alone; a day refused alone is no longer offered (it stays in the ledger), so one bad day
// cannot block every later report. One per measuring period; main thread only. The ledger, clock and facts must outlive
// it.
class UsageReporter {
public:
    UsageReporter(BackendClient client, DayLedger &ledger, PairedIdentity identity, Clock &clock,
                  const SystemInfo &system);

    // One report cycle; never fails from the caller's point of view. On success the backfill days are
    // marked with the totals that were sent (seconds credited during the request stay), days older than
    // 30 days are pruned and the ledger is saved, and one INFO line is logged. On failure one WARN line
    // is logged and the ledger is not touched. Costs one request and, on success, one ledger save.
    // The reporter must outlive the returned task: whoever replaces it keeps the old one until then.
    QCoro::Task<void> report(CancelToken cancel = {});

    const std::optional<QDateTime> &lastReport() const { return m_lastReport; }
    const std::optional<QString> &lastError() const { return m_lastError; }
    // When the current run of failed reports began; nothing once a report succeeds.
    const std::optional<QDateTime> &failingSince() const { return m_failingSince; }

    static constexpr int pruneDays = 30;

    // The past days the backend refused when sent alone: kept in the ledger, no longer offered.
    const QSet<QString> &refusedDays() const { return m_refused; }

private:
    // After a report the backend refused as malformed (400, 422), the next cycles find the day
    // at fault: today alone, then each unconfirmed past day alone.
    enum class Mode { AllDays, TodayAlone, OneDay };
    std::vector<DayRecord> backfillFor(const QDateTime &now) const;
    void afterRefusal(const std::vector<DayRecord> &sent);
    void afterSuccess(const QDateTime &now);

    Mode m_mode = Mode::AllDays;
    std::vector<QString> m_probe;  // OneDay: the days still to send alone, oldest first
    QSet<QString> m_refused;

    BackendClient m_client;
    DayLedger &m_ledger;
    PairedIdentity m_identity;
    Clock &m_clock;
    const SystemInfo &m_system;
    std::optional<QDateTime> m_lastReport;
    std::optional<QString> m_lastError;
    std::optional<QDateTime> m_failingSince;
};

}  // namespace fennimar
