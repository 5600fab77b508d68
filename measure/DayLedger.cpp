#include "measure/DayLedger.h"

#include "core/Log.h"
#include "core/DurableFile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>

namespace fennimar {

DayLedger::DayLedger(QString storePath, const Clock &clock)
    : m_storePath(std::move(storePath)),
      m_knownPath(QFileInfo(m_storePath).dir().filePath(QStringLiteral("ledger-known.json"))),
      m_clock(clock)
{
    load();
    compareWithKnown();
}

void DayLedger::compareWithKnown()
{
    const FileRead file = readSmallFile(m_knownPath, maxFileBytes);
    const QJsonDocument document = QJsonDocument::fromJson(file.bytes);
    if (!file.notFound && !document.isObject())
        Log::warn(QStringLiteral("the ledger's last known totals are unreadable · ") +
                  (file.error.isEmpty() ? QStringLiteral("not a JSON object") : file.error));
    const QJsonObject known = document.object();
    const QString cutoff = m_clock.localNow().date().addDays(-keepDays).toString(QStringLiteral("yyyy-MM-dd"));
    QStringList lost;
    for (auto it = known.begin(); it != known.end(); ++it) {
        const qint64 total = it.value().toInteger(-1);
        m_known[it.key()] = total;
        const auto day = m_days.find(it.key());
        if (it.key() < cutoff || (day != m_days.end() && day->second.total() >= total))
            continue;
        lost << (day == m_days.end()
                     ? QStringLiteral("%1 (%2 s) is gone").arg(it.key()).arg(total)
                     : QStringLiteral("%1 fell from %2 s to %3 s").arg(it.key()).arg(total).arg(day->second.total()));
    }
    if (!lost.isEmpty())
        m_shrunk = QStringLiteral("the ledger lost counted time while the agent was not running: ") +
                   lost.join(QStringLiteral(", "));
}

QString DayLedger::dateKey(const QDateTime &at, const QTimeZone &zone)
{
    return at.toTimeZone(zone).date().toString(QStringLiteral("yyyy-MM-dd"));
}

DayRecord DayLedger::freshRecord(const QDateTime &at, const QTimeZone &zone)
{
    DayRecord record;
    record.date = dateKey(at, zone);
    // Integer division truncates toward zero: -03:30 gives -210.
    record.tzOffsetMinutes = zone.offsetFromUtc(at) / 60;
    return record;
}

void DayLedger::add(qint64 seconds, const QDateTime &at)
{
    if (seconds < 1)
        return;
    const QTimeZone zone = m_clock.timeZone();
    const QDateTime local = at.toTimeZone(zone);
    const QString key = local.date().toString(QStringLiteral("yyyy-MM-dd"));
    const auto hour = static_cast<size_t>(std::clamp(local.time().hour(), 0, 23));
    auto it = m_days.find(key);
    if (it == m_days.end())
        it = m_days.emplace(key, freshRecord(at, zone)).first;
    qint64 &bucket = it->second.buckets[hour];
    bucket = std::min(bucket + seconds, DayRecord::secondsPerBucket);
    m_unsaved = true;
}

DayRecord DayLedger::today(const QDateTime &at) const
{
    const QTimeZone zone = m_clock.timeZone();
    const auto it = m_days.find(dateKey(at, zone));
    return it != m_days.end() ? it->second : freshRecord(at, zone);
}

void DayLedger::prune(int olderThanDays, const QDateTime &now)
{
    const QDate cutoff = now.toTimeZone(m_clock.timeZone()).date().addDays(-olderThanDays);
    if (!cutoff.isValid())
        return;
    const QString keep = cutoff.toString(QStringLiteral("yyyy-MM-dd"));
    const auto first = m_days.lower_bound(keep);
    if (first != m_days.begin()) {
        m_days.erase(m_days.begin(), first);
        m_unsaved = true;
    }
}

std::vector<DayRecord> DayLedger::unreportedBackfill(const QDateTime &now, const QSet<QString> &skip) const
{
    const QString today = dateKey(now);
    std::vector<DayRecord> pending;
    for (const auto &[key, record] : m_days) {  // the map keeps keys in string order
        if (record.date != today && record.reportedTotal != record.total() && !skip.contains(record.date))
            pending.push_back(record);
    }
    constexpr size_t limit = 7;
    if (pending.size() > limit)
        pending.erase(pending.begin(), pending.end() - static_cast<std::ptrdiff_t>(limit));
    return pending;
}

QByteArray DayLedger::encode(const std::map<QString, DayRecord> &days)
{
    // Written by hand: a QJsonObject would sort each record's members by name.
    QByteArray bytes = "{";
    for (const auto &[key, record] : days) {
        if (bytes.size() > 1)
            bytes += ',';
        const QByteArray quoted = QJsonDocument(QJsonArray{key}).toJson(QJsonDocument::Compact);
        bytes += quoted.mid(1, quoted.size() - 2) + ':' + record.toJsonBytes();
    }
    return bytes + '}';
}

Result<std::map<QString, DayRecord>> DayLedger::decode(const QByteArray &bytes)
{
    using R = Result<std::map<QString, DayRecord>>;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return R::failure(
            QStringLiteral("not JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset));
    if (!document.isObject())
        return R::failure(QStringLiteral("the ledger is not a JSON object"));
    std::map<QString, DayRecord> days;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        auto record = DayRecord::fromJson(it.value());
        if (!record)
            return R::failure(record.error());
        if (record->date != it.key())
            return R::failure(QStringLiteral("the day stored under \"%1\" says it is %2").arg(it.key(), record->date));
        days.emplace(it.key(), std::move(record).value());
    }
    return days;
}

void DayLedger::load()
{
    const FileRead file = readSmallFile(m_storePath, maxFileBytes);
    if (file.notFound)
        return;
    QString failure = file.error;
    if (failure.isEmpty()) {
        auto decoded = decode(file.bytes);
        if (decoded) {
            m_days = std::move(decoded).value();
            if (setAsideImpossibleDays()) {
                // The file as it was stays beside the new one, for whoever wants to look.
                const auto aside = keepAside(m_storePath, m_clock.localNow());
                if (aside)
                    Log::info(QStringLiteral("ledger with set-aside days kept as ") + aside.value());
                save();
            }
            prune(keepDays, m_clock.now());
            Log::info(QStringLiteral("ledger restored · %1 day(s) · today=%2s")
                          .arg(m_days.size())
                          .arg(today(m_clock.now()).total()));
            return;
        }
        failure = decoded.error();
    }
    Log::error(QStringLiteral("ledger unreadable, starting fresh · ") + failure);
    // Keep what the user had: the next save would otherwise replace it.
    const auto aside = keepAside(m_storePath, m_clock.localNow());
    if (aside)
        Log::info(QStringLiteral("unreadable ledger kept as ") + aside.value());
    else
        Log::warn(QStringLiteral("unreadable ledger could not be kept aside · ") + aside.error());
}

bool DayLedger::setAsideImpossibleDays()
{
    // A day after tomorrow here cannot have been counted yet (tomorrow can, in a zone ahead of this
    // one); such a day, or an offset no zone has, would make the backend refuse every report that
    // carries it.
    const QString tomorrow =
        m_clock.now().toTimeZone(m_clock.timeZone()).date().addDays(1).toString(QStringLiteral("yyyy-MM-dd"));
    bool any = false;
    for (auto it = m_days.begin(); it != m_days.end();) {
        const DayRecord &r = it->second;
        QString why;
        if (r.tzOffsetMinutes < -maxOffsetMinutes || r.tzOffsetMinutes > maxOffsetMinutes)
            why = QStringLiteral("offset %1 min is beyond 18 hours").arg(r.tzOffsetMinutes);
        else if (r.date > tomorrow)
            why = QStringLiteral("the date is after tomorrow");
        if (why.isEmpty()) {
            ++it;
            continue;
        }
        Log::warn(QStringLiteral("ledger day set aside · %1 · %2").arg(r.date, why));
        it = m_days.erase(it);
        any = true;
    }
    return any;
}

Status DayLedger::save()
{
    const Status written = writeFileAtomically(m_storePath, encode(m_days));
    if (!written) {
        Log::error(QStringLiteral("ledger save failed · ") + written.error());
        return written;
    }
    m_unsaved = false;
    // After the ledger: a crash between the two leaves totals known lower than saved, never higher.
    std::map<QString, qint64> totals;
    QJsonObject json;
    for (const auto &[key, record] : m_days) {
        totals[key] = record.total();
        json.insert(key, record.total());
    }
    if (totals != m_known) {
        if (const Status kept = writeFileAtomically(m_knownPath, QJsonDocument(json).toJson(QJsonDocument::Compact));
            !kept)
            Log::warn(QStringLiteral("the ledger's totals were not kept beside it · ") + kept.error());
        else
            m_known = std::move(totals);
    }
    return {};
}

}  // namespace fennimar
