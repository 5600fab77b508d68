#include "tools/refbackend/Overview.h"

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>

namespace fennimar::refbackend {

Result<QJsonObject> Overview::build()
{
    using R = Result<QJsonObject>;
    if (const Status purged = m_pairings.purgeExpiredSetups(m_clock.now()); !purged)
        return R::failure(purged.error());
    const auto all = m_reports.devices();
    if (!all)
        return R::failure(all.error());
    const QDateTime now = m_clock.now();

    QJsonArray devices, pending;
    for (const auto &entry : *all) {
        const QJsonObject d = entry.toObject();
        const QJsonObject info = d.value(QStringLiteral("platform_info")).toObject();
        QString name = d.value(QStringLiteral("device_name")).toString();
        if (name.isEmpty())
            name = info.value(QStringLiteral("device_name")).toString();
        if (!d.value(QStringLiteral("paired")).toBool()) {
            pending.append(QJsonObject{{QStringLiteral("device_id"), d.value(QStringLiteral("device_id"))},
                                       {QStringLiteral("device_type"), d.value(QStringLiteral("device_type"))},
                                       {QStringLiteral("device_name"), name},
                                       {QStringLiteral("asked_at"), d.value(QStringLiteral("created_at"))}});
            continue;
        }
        QJsonObject device{{QStringLiteral("device_id"), d.value(QStringLiteral("device_id"))},
                           {QStringLiteral("device_type"), d.value(QStringLiteral("device_type"))},
                           {QStringLiteral("device_name"), name},
                           {QStringLiteral("paired"), d.value(QStringLiteral("paired"))},
                           {QStringLiteral("child"), QJsonValue::Null},
                           {QStringLiteral("last_heartbeat"), QJsonValue::Null},
                           {QStringLiteral("monitored"), QJsonArray()},
                           {QStringLiteral("apps_seen"), d.value(QStringLiteral("seen_apps"))}};

        const QString childId = d.value(QStringLiteral("child_id")).toString();
        if (!childId.isEmpty()) {
            device.insert(QStringLiteral("child"),
                          QJsonObject{{QStringLiteral("id"), childId},
                                      {QStringLiteral("name"), d.value(QStringLiteral("child_name"))}});
            const auto apps = m_pairings.childApps(childId);
            if (!apps)
                return R::failure(apps.error());
            QJsonArray monitored;
            for (const auto &app : *apps)
                monitored.append(QJsonObject{{QStringLiteral("package_id"), app.packageId},
                                             {QStringLiteral("is_blocked"), app.blocked}});
            device.insert(QStringLiteral("monitored"), monitored);
        }

        const QJsonObject beat = d.value(QStringLiteral("last_heartbeat")).toObject();
        if (!beat.isEmpty()) {
            const QJsonObject body = beat.value(QStringLiteral("body")).toObject();
            const QString at = beat.value(QStringLiteral("received_at")).toString();
            const QDateTime received = QDateTime::fromString(at, Qt::ISODateWithMs);
            device.insert(
                QStringLiteral("last_heartbeat"),
                QJsonObject{{QStringLiteral("received_at"), at},
                            {QStringLiteral("age_seconds"), std::max<qint64>(0, received.secsTo(now))},
                            {QStringLiteral("beats"), beat.value(QStringLiteral("beats"))},
                            {QStringLiteral("checks"),
                             body.value(QStringLiteral("health_snapshot")).toObject().value(QStringLiteral("checks"))},
                            {QStringLiteral("platform_info"), body.value(QStringLiteral("platform_info"))},
                            {QStringLiteral("app_build"), body.value(QStringLiteral("app_build"))}});
        }

        const auto alerts = m_reports.alertsOf(d.value(QStringLiteral("device_id")).toString());
        if (!alerts)
            return R::failure(alerts.error());
        device.insert(QStringLiteral("alerts"), *alerts);

        QJsonArray days;
        const QJsonArray usage = d.value(QStringLiteral("usage")).toArray();
        // Beating recently, saying it can see what is in front, and yet no report for an hour or
        // more: the reports are stopped (or refused) while the device looks well.
        QString lastUsage = d.value(QStringLiteral("claimed_at")).toString();
        for (const auto &u : usage)
            lastUsage = std::max(lastUsage, u.toObject().value(QStringLiteral("received_at")).toString());
        const QJsonObject shown = device.value(QStringLiteral("last_heartbeat")).toObject();
        const qint64 quiet = QDateTime::fromString(lastUsage, Qt::ISODateWithMs).secsTo(now) / 3600;
        const bool counting = shown.value(QStringLiteral("checks"))
                                  .toObject()
                                  .value(QStringLiteral("foreground_sampling"))
                                  .toObject()
                                  .value(QStringLiteral("ok"))
                                  .toBool(true);
        if (!shown.isEmpty() && shown.value(QStringLiteral("age_seconds")).toInteger() <= 600 && counting && quiet >= 1)
            device.insert(QStringLiteral("no_usage_hours"), quiet);
        for (qsizetype i = usage.size() - 1; i >= 0; --i) {
            const QJsonObject u = usage.at(i).toObject();
            QJsonObject day;
            for (const char *key :
                 {"date", "total_seconds", "buckets", "tz_offset_minutes", "confirmed", "received_at"})
                day.insert(QLatin1String(key), u.value(QLatin1String(key)));
            days.append(day);
        }
        device.insert(QStringLiteral("days"), days);
        devices.append(device);
    }
    return QJsonObject{{QStringLiteral("generated_at"), now.toUTC().toString(Qt::ISODateWithMs)},
                       {QStringLiteral("devices"), devices},
                       {QStringLiteral("pending_setups"), pending}};
}

}  // namespace fennimar::refbackend
