#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <array>

namespace fennimar {

// One local day's counted seconds in 24 hourly buckets: what the ledger stores and the usage report
// sends, so it lives below both.
struct DayRecord {
    static constexpr qint64 secondsPerBucket = 3600;

    QString date;                      // "yyyy-MM-dd", equal to the key it is stored under
    std::array<qint64, 24> buckets{};  // seconds counted in local hour h, each 0...3600
    qint64 tzOffsetMinutes = 0;        // the zone's offset east of GMT when the record was created
    qint64 reportedTotal = -1;         // the total last confirmed by the backend; -1 = never reported

    qint64 total() const;

    // {"date":..,"buckets":[24 ints],"tzOffsetMinutes":..,"reportedTotal":..}. A QJsonObject keeps
    // its members sorted by name; toJsonBytes() writes them in this order.
    QJsonObject toJson() const;
    // The compact JSON of toJson() with the members in the order above.
    QByteArray toJsonBytes() const;
    // All four members required with their types; exactly 24 whole-number buckets of 0...3600;
    // other members ignored.
    static Result<DayRecord> fromJson(const QJsonValue &value);

    bool operator==(const DayRecord &) const = default;
};

}  // namespace fennimar
