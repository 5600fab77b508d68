#pragma once

#include "core/Result.h"
#include "tools/refbackend/Database.h"
#include "tools/refbackend/WireCheck.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace fennimar::refbackend {

struct SeenAppReport {
    QString bundleId;
    QString appName;
    QString category;  // empty: none
};

// What devices report: heartbeats, usage and seen apps, and the listing people and tests read
// back. SQL on the caller's thread; a database failure comes back as a failed Result.
class ReportStore {
public:
    explicit ReportStore(Database &db) : m_db(db) {}

    // Keeps the whole body of the device's latest heartbeat and counts the beats.
    Status recordHeartbeat(const QString &deviceId, const QJsonObject &body, const QDateTime &now);

    // Stores each day's totals and hours for the device; a day sent again replaces what was
    // stored (the latest report wins). All days or none.
    Status recordUsage(const QString &deviceId, const QList<UsageDay> &days, const QDateTime &now);

    // Remembers the apps the device saw and answers how many of them no device of the same
    // child had reported before (an app listed twice in one report counts once).
    Result<int> recordSeenApps(const QString &deviceId, const QString &childId, const QList<SeenAppReport> &apps,
                               const QDateTime &now);

    // Every device with its pairing, last heartbeat, usage per day and hour (a day is "confirmed"
    // when its latest copy came as a past day), and seen apps.
    Result<QJsonArray> devices();

private:
    Result<QJsonArray> usageOf(const QString &deviceId);
    Result<QJsonArray> seenAppsOf(const QString &deviceId);
    Database &m_db;
};

}  // namespace fennimar::refbackend
