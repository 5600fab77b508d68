#include "tools/refbackend/ReportStore.h"

#include <QJsonDocument>
#include <QSet>

#include <algorithm>

namespace fennimar::refbackend {

namespace {

QString isoMs(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject objectFromText(const QVariant &text)
{
    return QJsonDocument::fromJson(text.toByteArray()).object();
}

}  // namespace

Status ReportStore::alert(const QString &deviceId, const QString &what, const QDateTime &now)
{
    auto again = m_db.run(QStringLiteral("UPDATE alerts SET last_at = ?, times = times + 1 "
                                         "WHERE device_id = ? AND what = ? AND dismissed = 0"),
                          {isoMs(now), deviceId, what});
    if (!again)
        return Status::failure(again.error());
    if (again->numRowsAffected() > 0)
        return {};
    auto r = m_db.run(QStringLiteral("INSERT INTO alerts (device_id, what, first_at, last_at, times) "
                                     "VALUES (?, ?, ?, ?, 1)"),
                      {deviceId, what, isoMs(now), isoMs(now)});
    return r ? Status() : Status::failure(r.error());
}

Status ReportStore::recordHeartbeat(const QString &deviceId, const QJsonObject &body, const QDateTime &now)
{
    return m_db.transaction([&]() -> Status {
        const QString text = QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact));
        auto r =
            m_db.run(QStringLiteral("INSERT INTO heartbeats (device_id, received_at, body, beats) VALUES (?, ?, ?, 1) "
                                    "ON CONFLICT (device_id) DO UPDATE SET received_at = excluded.received_at, "
                                    "body = excluded.body, beats = beats + 1"),
                     {deviceId, isoMs(now), text});
        if (!r)
            return Status::failure(r.error());
        const QJsonObject checks =
            body.value(QStringLiteral("health_snapshot")).toObject().value(QStringLiteral("checks")).toObject();
        for (auto it = checks.begin(); it != checks.end(); ++it) {
            if (it.value().toObject().value(QStringLiteral("ok")).toBool())
                continue;
            if (const Status raised = alert(deviceId, QStringLiteral("check failed: ") + it.key(), now); !raised)
                return raised;
        }
        return {};
    });
}

Status ReportStore::recordUsage(const QString &deviceId, const QList<UsageDay> &days, const QDateTime &now)
{
    return m_db.transaction([&]() -> Status {
        for (const auto &day : days) {
            auto r = m_db.run(
                QStringLiteral("INSERT OR REPLACE INTO usage_days (device_id, date, total_seconds, tz_offset_minutes, "
                               "source, platform, carrier, computed_at_ms, received_at, past_day) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                {deviceId, day.date, day.totalSeconds, day.tzOffsetMinutes, day.source, day.platform, day.carrier,
                 day.computedAtMs, isoMs(now), day.pastDay ? 1 : 0});
            if (!r)
                return Status::failure(r.error());
            for (int hour = 0; hour < day.buckets.size(); ++hour) {
                auto kept = m_db.run(
                    QStringLiteral("SELECT seconds FROM usage_hours WHERE device_id = ? AND date = ? AND hour = ?"),
                    {deviceId, day.date, hour});
                if (!kept)
                    return Status::failure(kept.error());
                const qint64 before = kept->next() ? kept->value(0).toLongLong() : 0;
                const qint64 sent = day.buckets.at(hour);
                if (sent < before) {
                    const QString what = QStringLiteral("a report lowered %1 %2:00 from %3 s to %4 s (%3 s kept)")
                                             .arg(day.date)
                                             .arg(hour, 2, 10, QLatin1Char('0'))
                                             .arg(before)
                                             .arg(sent);
                    if (const Status raised = alert(deviceId, what, now); !raised)
                        return raised;
                }
                auto h = m_db.run(QStringLiteral("INSERT OR REPLACE INTO usage_hours (device_id, date, hour, seconds) "
                                                 "VALUES (?, ?, ?, ?)"),
                                  {deviceId, day.date, hour, std::max(before, sent)});
                if (!h)
                    return Status::failure(h.error());
            }
            auto total = m_db.run(QStringLiteral("UPDATE usage_days SET total_seconds = MAX(total_seconds, (SELECT "
                                                 "SUM(seconds) FROM usage_hours WHERE device_id = ? AND date = ?)) "
                                                 "WHERE device_id = ? AND date = ?"),
                                  {deviceId, day.date, deviceId, day.date});
            if (!total)
                return Status::failure(total.error());
        }
        return {};
    });
}

Result<int> ReportStore::recordSeenApps(const QString &deviceId, const QString &childId,
                                        const QList<SeenAppReport> &apps, const QDateTime &now)
{
    int fresh = 0;
    QSet<QString> counted;
    const Status status = m_db.transaction([&]() -> Status {
        for (const auto &app : apps) {
            if (!counted.contains(app.bundleId)) {
                counted.insert(app.bundleId);
                auto known = m_db.run(QStringLiteral("SELECT 1 FROM seen_apps s JOIN devices d ON d.id = s.device_id "
                                                     "WHERE s.bundle_id = ? AND d.child_id = ?"),
                                      {app.bundleId, childId});
                if (!known)
                    return Status::failure(known.error());
                if (!known->next())
                    ++fresh;
            }
            const QVariant category = app.category.isEmpty() ? QVariant() : QVariant(app.category);
            auto r = m_db.run(QStringLiteral("INSERT INTO seen_apps (device_id, bundle_id, app_name, category, "
                                             "first_seen, last_seen) VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT "
                                             "(device_id, bundle_id) DO UPDATE SET app_name = excluded.app_name, "
                                             "category = excluded.category, last_seen = excluded.last_seen"),
                              {deviceId, app.bundleId, app.appName, category, isoMs(now), isoMs(now)});
            if (!r)
                return Status::failure(r.error());
        }
        return {};
    });
    if (!status)
        return Result<int>::failure(status.error());
    return fresh;
}

Result<QJsonArray> ReportStore::alertsOf(const QString &deviceId)
{
    auto q = m_db.run(QStringLiteral("SELECT id, what, first_at, last_at, times FROM alerts "
                                     "WHERE device_id = ? AND dismissed = 0 ORDER BY id"),
                      {deviceId});
    if (!q)
        return Result<QJsonArray>::failure(q.error());
    QJsonArray out;
    while (q->next())
        out.append(QJsonObject{{QStringLiteral("id"), q->value(0).toLongLong()},
                               {QStringLiteral("what"), q->value(1).toString()},
                               {QStringLiteral("first_at"), q->value(2).toString()},
                               {QStringLiteral("last_at"), q->value(3).toString()},
                               {QStringLiteral("times"), q->value(4).toLongLong()}});
    return out;
}

Result<bool> ReportStore::dismissAlert(qint64 id)
{
    auto r = m_db.run(QStringLiteral("UPDATE alerts SET dismissed = 1 WHERE id = ? AND dismissed = 0"), {id});
    if (!r)
        return Result<bool>::failure(r.error());
    return r->numRowsAffected() > 0;
}

Result<QJsonArray> ReportStore::usageOf(const QString &deviceId)
{
    auto days = m_db.run(
        QStringLiteral("SELECT date, total_seconds, tz_offset_minutes, source, platform, carrier, "
                       "computed_at_ms, received_at, past_day FROM usage_days WHERE device_id = ? ORDER BY date"),
        {deviceId});
    if (!days)
        return Result<QJsonArray>::failure(days.error());
    QJsonArray out;
    while (days->next()) {
        const QString date = days->value(0).toString();
        auto hours = m_db.run(QStringLiteral("SELECT seconds FROM usage_hours WHERE device_id = ? AND date = ? "
                                             "ORDER BY hour"),
                              {deviceId, date});
        if (!hours)
            return Result<QJsonArray>::failure(hours.error());
        QJsonArray buckets;
        while (hours->next())
            buckets.append(hours->value(0).toInt());
        out.append(QJsonObject{{QStringLiteral("date"), date},
                               {QStringLiteral("total_seconds"), days->value(1).toLongLong()},
                               {QStringLiteral("tz_offset_minutes"), days->value(2).toLongLong()},
                               {QStringLiteral("source"), days->value(3).toString()},
                               {QStringLiteral("platform"), days->value(4).toString()},
                               {QStringLiteral("carrier"), days->value(5).toString()},
                               {QStringLiteral("computed_at_ms"), days->value(6).toLongLong()},
                               {QStringLiteral("received_at"), days->value(7).toString()},
                               {QStringLiteral("confirmed"), days->value(8).toInt() != 0},
                               {QStringLiteral("buckets"), buckets}});
    }
    return out;
}

Result<QJsonArray> ReportStore::seenAppsOf(const QString &deviceId)
{
    auto q = m_db.run(QStringLiteral("SELECT bundle_id, app_name, category, first_seen, last_seen FROM seen_apps "
                                     "WHERE device_id = ? ORDER BY first_seen, bundle_id"),
                      {deviceId});
    if (!q)
        return Result<QJsonArray>::failure(q.error());
    QJsonArray out;
    while (q->next()) {
        QJsonObject app{{QStringLiteral("bundle_id"), q->value(0).toString()},
                        {QStringLiteral("app_name"), q->value(1).toString()},
                        {QStringLiteral("first_seen"), q->value(3).toString()},
                        {QStringLiteral("last_seen"), q->value(4).toString()}};
        if (!q->value(2).isNull())
            app.insert(QStringLiteral("category"), q->value(2).toString());
        out.append(app);
    }
    return out;
}

Result<QJsonArray> ReportStore::devices()
{
    auto q =
        m_db.run(QStringLiteral("SELECT d.id, d.device_type, d.platform_info, d.created_at, d.child_id, c.name, "
                                "d.device_name, d.claimed_at, h.received_at, h.body, h.beats FROM devices d "
                                "LEFT JOIN children c ON c.id = d.child_id "
                                "LEFT JOIN heartbeats h ON h.device_id = d.id ORDER BY d.created_at, d.id"));
    if (!q)
        return Result<QJsonArray>::failure(q.error());
    QJsonArray out;
    while (q->next()) {
        const QString id = q->value(0).toString();
        QJsonObject device{{QStringLiteral("device_id"), id},
                           {QStringLiteral("device_type"), q->value(1).toString()},
                           {QStringLiteral("platform_info"), objectFromText(q->value(2))},
                           {QStringLiteral("created_at"), q->value(3).toString()},
                           {QStringLiteral("paired"), !q->value(4).isNull()}};
        if (!q->value(4).isNull()) {
            device.insert(QStringLiteral("child_id"), q->value(4).toString());
            device.insert(QStringLiteral("child_name"), q->value(5).toString());
            device.insert(QStringLiteral("device_name"), q->value(6).toString());
            device.insert(QStringLiteral("claimed_at"), q->value(7).toString());
        }
        if (!q->value(8).isNull())
            device.insert(QStringLiteral("last_heartbeat"),
                          QJsonObject{{QStringLiteral("received_at"), q->value(8).toString()},
                                      {QStringLiteral("beats"), q->value(10).toLongLong()},
                                      {QStringLiteral("body"), objectFromText(q->value(9))}});
        auto usage = usageOf(id);
        if (!usage)
            return usage;
        device.insert(QStringLiteral("usage"), *usage);
        auto seen = seenAppsOf(id);
        if (!seen)
            return seen;
        device.insert(QStringLiteral("seen_apps"), *seen);
        out.append(device);
    }
    return out;
}

}  // namespace fennimar::refbackend
