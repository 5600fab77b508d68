#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>

namespace fennimar::refbackend {

// Reading request bodies strictly: every accessor names the member that is missing or of the
// wrong JSON type, so that a 400 answer tells the agent's developer exactly what was wrong.
namespace WireCheck {

// The body as a JSON object; a failure says whether it was not JSON at all or not an object.
Result<QJsonObject> object(const QByteArray &body);

// A required member of the given type. Integers must be whole numbers that fit in 53 bits, so
// that 1.5 or 1e300 are refused rather than truncated.
Result<QString> string(const QJsonObject &o, const QString &key);
Result<qint64> integer(const QJsonObject &o, const QString &key);
Result<bool> boolean(const QJsonObject &o, const QString &key);
Result<QJsonObject> child(const QJsonObject &o, const QString &key);
Result<QJsonArray> array(const QJsonObject &o, const QString &key);

// An object whose every member is a string (platform facts, build identity).
Result<QJsonObject> stringMap(const QJsonObject &o, const QString &key);

// Whole-number reading of a value that is not a member (array elements).
std::optional<qint64> asInteger(const QJsonValue &v);

}  // namespace WireCheck

// One day of usage as the agent reports it, checked for shape and consistency.
struct UsageDay {
    QString date;        // yyyy-MM-dd
    QList<int> buckets;  // 24 hours, each 0..3600
    qint64 totalSeconds = 0;
    qint64 tzOffsetMinutes = 0;
    qint64 computedAtMs = 0;
    QString source;
    QString platform;
    QString carrier;
    // Sent as a past day ("daily_usage_backfill"): its day is over and the agent takes the
    // server's 2xx as confirming this total. Set by the route, not read from the day object.
    bool pastDay = false;

    // Refuses a day whose date is not a real Gregorian date, whose buckets are not 24 whole
    // numbers of 0..3600 seconds, whose "bucket_seconds" is not 3600 or whose "total_seconds"
    // is not the sum of its buckets. where names the day in the message ("daily_usage").
    static Result<UsageDay> fromJson(const QJsonValue &value, const QString &where);
};

}  // namespace fennimar::refbackend
