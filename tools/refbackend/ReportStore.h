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

    // Keeps the whole body of the device's latest heartbeat and counts the beats. Each failed check
    // is also an alert, kept until dismissed: heartbeats carry no credential, so a later body (a
    // forged one) must not erase what an earlier one told.
    Status recordHeartbeat(const QString &deviceId, const QJsonObject &body, const QDateTime &now);

    // Stores each day's hours for the device, keeping the highest value each hour was ever sent
    // (an agent's ledger only grows; a lower number means it was wiped or edited), and the day's
    // total as the sum of those; a lower hour is an alert. A day sent again replaces the rest of
    // what was stored. All days or none.
    Status recordUsage(const QString &deviceId, const QList<UsageDay> &days, const QDateTime &now);

    // The device's alerts not dismissed: [{"id", "what", "first_at", "last_at", "times"}], oldest first.
    Result<QJsonArray> alertsOf(const QString &deviceId);
    // Dismisses one alert (the parent has seen it); false when there is no such alert standing.
    Result<bool> dismissAlert(qint64 id);

    // Remembers the apps the device saw and answers how many of them no device of the same
    // child had reported before (an app listed twice in one report counts once).
    Result<int> recordSeenApps(const QString &deviceId, const QString &childId, const QList<SeenAppReport> &apps,
                               const QDateTime &now);

    // Every device with its pairing, last heartbeat, usage per day and hour (a day is "confirmed"
    // when its latest copy came as a past day), and seen apps.
    Result<QJsonArray> devices();

private:
    // Raises the alert, or counts it again while the same one stands.
    Status alert(const QString &deviceId, const QString &what, const QDateTime &now);
    Result<QJsonArray> usageOf(const QString &deviceId);
    Result<QJsonArray> seenAppsOf(const QString &deviceId);
    Database &m_db;
};

}  // namespace fennimar::refbackend
