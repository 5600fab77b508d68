#pragma once

#include "core/Clock.h"
#include "core/DayRecord.h"
#include "core/Result.h"

#include <QJsonObject>
#include <QSet>
#include <QString>

#include <array>
#include <map>
#include <vector>

namespace fennimar {

// The local record of counted seconds per day, persisted as "ledger.json". Main thread only.
class DayLedger {
public:
    static constexpr qint64 maxFileBytes = 4 * 1024 * 1024;  // 31 days take about 5 KB
    static constexpr int keepDays = 30;                      // days older than this are pruned
    static constexpr qint64 maxOffsetMinutes = 18 * 60;      // the widest offset a zone can have

    // Creates the ledger for storePath and loads it at once: a missing file gives an empty ledger
    // silently; a file that cannot be read or decoded is moved aside (never destroyed), logged at
    // ERROR, and the ledger starts empty. Days that no report could carry (an offset beyond ±18 h, a
    // date after tomorrow) are left out, each with a WARN line, and the file is kept aside as it was;
    // days older than keepDays are pruned.
    DayLedger(QString storePath, const Clock &clock);

    // Credits seconds (< 1: ignored) to the hour of `at` in its day's record, capped at 3600 per bucket.
    void add(qint64 seconds, const QDateTime &at);
    // The stored record of `at`'s day, or a fresh one that is not inserted.
    DayRecord today(const QDateTime &at) const;
    // Writes the whole ledger durably; a failure is logged ("ledger save failed · ...") and returned,
    // and the days in memory stay as they are.
    Status save();
    // Keeps the days whose key is at least the date olderThanDays calendar days before now.
    void prune(int olderThanDays, const QDateTime &now);
    // The past days whose total the backend has not confirmed: at most 7, oldest first. Days in
    // `skip` (ones the backend refused) are not offered and take no place.
    std::vector<DayRecord> unreportedBackfill(const QDateTime &now, const QSet<QString> &skip = {}) const;

    // The usage reporter marks days as reported here directly.
    std::map<QString, DayRecord> &days() { return m_days; }
    const std::map<QString, DayRecord> &days() const { return m_days; }

    // True when something changed since the last successful save.
    bool hasUnsavedChanges() const { return m_unsaved; }
    void markChanged() { m_unsaved = true; }

    const QString &storePath() const { return m_storePath; }

    // What vanished or shrank, at load, of the days this ledger held when it was last saved: a day
    // missing or with a lower total, though too young to be pruned; empty when nothing did or nothing
    // was known. Each save keeps the days' totals in "ledger-known.json" beside the ledger, since
    // stopping the agent and deleting or lowering the ledger would otherwise send smaller numbers
    // for the last 7 days unseen.
    const QString &shrunkSinceSaved() const { return m_shrunk; }

    // The "yyyy-MM-dd" key and the hour of an instant in a zone.
    static QString dateKey(const QDateTime &at, const QTimeZone &zone);
    QString dateKey(const QDateTime &at) const { return dateKey(at, m_clock.timeZone()); }
    static DayRecord freshRecord(const QDateTime &at, const QTimeZone &zone);

    // The file's bytes for a set of days (compact JSON object keyed by date).
    static QByteArray encode(const std::map<QString, DayRecord> &days);
    static Result<std::map<QString, DayRecord>> decode(const QByteArray &bytes);

private:
    void load();
    // Leaves out the days no report could carry; true when there were any.
    bool setAsideImpossibleDays();
    void compareWithKnown();

    std::map<QString, DayRecord> m_days;
    const QString m_storePath;
    const QString m_knownPath;
    std::map<QString, qint64> m_known;  // each day's total as last saved
    QString m_shrunk;
    const Clock &m_clock;
    bool m_unsaved = false;
};

}  // namespace fennimar
