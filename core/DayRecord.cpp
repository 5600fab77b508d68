#include "core/DayRecord.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <optional>

namespace fennimar {

namespace {

// JSON numbers are doubles: accept only whole numbers a double represents exactly.
std::optional<qint64> wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    constexpr double limit = 9007199254740992.0;  // 2^53
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > limit)
        return std::nullopt;
    return static_cast<qint64>(d);
}

bool isDateKey(const QString &key)
{
    return key.size() == 10 && QDate::fromString(key, QStringLiteral("yyyy-MM-dd")).isValid();
}

}  // namespace

qint64 DayRecord::total() const
{
    qint64 sum = 0;
    for (qint64 b : buckets)
        sum += b;
    return sum;
}

QJsonObject DayRecord::toJson() const
{
    QJsonArray array;
    for (qint64 b : buckets)
        array.append(b);
    QJsonObject object;
    object.insert(QStringLiteral("date"), date);
    object.insert(QStringLiteral("buckets"), array);
    object.insert(QStringLiteral("tzOffsetMinutes"), tzOffsetMinutes);
    object.insert(QStringLiteral("reportedTotal"), reportedTotal);
    return object;
}

QByteArray DayRecord::toJsonBytes() const
{
    QByteArray bytes = QByteArrayLiteral("{\"date\":");
    // The one string member, escaped as JSON wants it.
    const QByteArray quoted = QJsonDocument(QJsonArray{date}).toJson(QJsonDocument::Compact);
    bytes += quoted.mid(1, quoted.size() - 2);
    bytes += QByteArrayLiteral(",\"buckets\":[");
    for (size_t h = 0; h < buckets.size(); ++h) {
        if (h > 0)
            bytes += ',';
        bytes += QByteArray::number(buckets[h]);
    }
    bytes += QByteArrayLiteral("],\"tzOffsetMinutes\":") + QByteArray::number(tzOffsetMinutes);
    bytes += QByteArrayLiteral(",\"reportedTotal\":") + QByteArray::number(reportedTotal) + '}';
    return bytes;
}

Result<DayRecord> DayRecord::fromJson(const QJsonValue &value)
{
    using R = Result<DayRecord>;
    if (!value.isObject())
        return R::failure(QStringLiteral("a day is not a JSON object"));
    const QJsonObject object = value.toObject();
    DayRecord record;

    const QJsonValue date = object.value(QLatin1String("date"));
    if (!date.isString() || !isDateKey(date.toString()))
        return R::failure(QStringLiteral("\"date\" is missing or not a yyyy-MM-dd string"));
    record.date = date.toString();

    const QJsonValue buckets = object.value(QLatin1String("buckets"));
    if (!buckets.isArray())
        return R::failure(QStringLiteral("%1: \"buckets\" is missing or not an array").arg(record.date));
    const QJsonArray array = buckets.toArray();
    if (array.size() != 24)
        return R::failure(
            QStringLiteral("%1: \"buckets\" holds %2 entries, not 24").arg(record.date).arg(array.size()));
    for (qsizetype h = 0; h < 24; ++h) {
        const auto seconds = wholeNumber(array.at(h));
        if (!seconds || *seconds < 0 || *seconds > secondsPerBucket)
            return R::failure(QStringLiteral("%1: bucket %2 is not a whole number of seconds from 0 to 3600")
                                  .arg(record.date)
                                  .arg(h));
        record.buckets[static_cast<size_t>(h)] = *seconds;
    }

    const auto offset = wholeNumber(object.value(QLatin1String("tzOffsetMinutes")));
    if (!offset)
        return R::failure(QStringLiteral("%1: \"tzOffsetMinutes\" is missing or not an integer").arg(record.date));
    record.tzOffsetMinutes = *offset;

    const auto reported = wholeNumber(object.value(QLatin1String("reportedTotal")));
    if (!reported)
        return R::failure(QStringLiteral("%1: \"reportedTotal\" is missing or not an integer").arg(record.date));
    record.reportedTotal = *reported;
    return record;
}

}  // namespace fennimar
