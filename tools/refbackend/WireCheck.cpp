#include "tools/refbackend/WireCheck.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace fennimar::refbackend {

namespace {

QString quoted(const QString &key)
{
    return QLatin1Char('"') + key + QLatin1Char('"');
}

template <typename T>
Result<T> wrongType(const QString &key, const char *expected)
{
    return Result<T>::failure(quoted(key) + QStringLiteral(" must be ") + QLatin1String(expected));
}

// Missing and null are both "missing": the agent never sends null for a required member.
bool missing(const QJsonObject &o, const QString &key)
{
    const auto v = o.value(key);
    return v.isUndefined() || v.isNull();
}

}  // namespace

namespace WireCheck {

Result<QJsonObject> object(const QByteArray &body)
{
    QJsonParseError error{};
    const auto doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return Result<QJsonObject>::failure(QStringLiteral("body is not valid JSON: ") + error.errorString() +
                                            QStringLiteral(" at offset ") + QString::number(error.offset));
    if (!doc.isObject())
        return Result<QJsonObject>::failure(QStringLiteral("body must be a JSON object"));
    return doc.object();
}

Result<QString> string(const QJsonObject &o, const QString &key)
{
    if (missing(o, key))
        return Result<QString>::failure(quoted(key) + QStringLiteral(" is missing"));
    if (!o.value(key).isString())
        return wrongType<QString>(key, "a string");
    return o.value(key).toString();
}

std::optional<qint64> asInteger(const QJsonValue &v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    constexpr double limit = 9007199254740992.0;  // 2^53: beyond it doubles skip whole numbers
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > limit)
        return std::nullopt;
    return static_cast<qint64>(d);
}

Result<qint64> integer(const QJsonObject &o, const QString &key)
{
    if (missing(o, key))
        return Result<qint64>::failure(quoted(key) + QStringLiteral(" is missing"));
    const auto n = asInteger(o.value(key));
    if (!n)
        return wrongType<qint64>(key, "a whole number");
    return *n;
}

Result<bool> boolean(const QJsonObject &o, const QString &key)
{
    if (missing(o, key))
        return Result<bool>::failure(quoted(key) + QStringLiteral(" is missing"));
    if (!o.value(key).isBool())
        return wrongType<bool>(key, "true or false");
    return o.value(key).toBool();
}

Result<QJsonObject> child(const QJsonObject &o, const QString &key)
{
    if (missing(o, key))
        return Result<QJsonObject>::failure(quoted(key) + QStringLiteral(" is missing"));
    if (!o.value(key).isObject())
        return wrongType<QJsonObject>(key, "an object");
    return o.value(key).toObject();
}

Result<QJsonArray> array(const QJsonObject &o, const QString &key)
{
    if (missing(o, key))
        return Result<QJsonArray>::failure(quoted(key) + QStringLiteral(" is missing"));
    if (!o.value(key).isArray())
        return wrongType<QJsonArray>(key, "an array");
    return o.value(key).toArray();
}

Result<QJsonObject> stringMap(const QJsonObject &o, const QString &key)
{
    auto map = child(o, key);
    if (!map)
        return map;
    for (auto it = map->begin(); it != map->end(); ++it) {
        if (!it.value().isString())
            return Result<QJsonObject>::failure(quoted(key + QLatin1Char('.') + it.key()) +
                                                QStringLiteral(" must be a string"));
    }
    return map;
}

}  // namespace WireCheck

Result<UsageDay> UsageDay::fromJson(const QJsonValue &value, const QString &where)
{
    using R = Result<UsageDay>;
    if (!value.isObject())
        return R::failure(quoted(where) + QStringLiteral(" must be an object"));
    const QJsonObject o = value.toObject();
    const auto fail = [&where](const QString &reason) { return R::failure(where + QStringLiteral(": ") + reason); };

    UsageDay day;
    const auto date = WireCheck::string(o, QStringLiteral("date"));
    if (!date)
        return fail(date.error());
    if (!QDate::fromString(*date, QStringLiteral("yyyy-MM-dd")).isValid())
        return fail(QStringLiteral("\"date\" must be a date in the form yyyy-MM-dd, not ") + *date);
    day.date = *date;

    for (const auto &[key, target] :
         {std::pair{QStringLiteral("source"), &day.source}, std::pair{QStringLiteral("platform"), &day.platform},
          std::pair{QStringLiteral("carrier"), &day.carrier}}) {
        const auto text = WireCheck::string(o, key);
        if (!text)
            return fail(text.error());
        *target = *text;
    }
    for (const auto &[key, target] : {std::pair{QStringLiteral("total_seconds"), &day.totalSeconds},
                                      std::pair{QStringLiteral("tz_offset_minutes"), &day.tzOffsetMinutes},
                                      std::pair{QStringLiteral("computed_at_ms"), &day.computedAtMs}}) {
        const auto n = WireCheck::integer(o, key);
        if (!n)
            return fail(n.error());
        *target = *n;
    }
    const auto bucketSeconds = WireCheck::integer(o, QStringLiteral("bucket_seconds"));
    if (!bucketSeconds)
        return fail(bucketSeconds.error());
    if (*bucketSeconds != 3600)
        return fail(QStringLiteral("\"bucket_seconds\" must be 3600"));
    if (day.tzOffsetMinutes < -18 * 60 || day.tzOffsetMinutes > 18 * 60)
        return fail(QStringLiteral("\"tz_offset_minutes\" must lie between -1080 and 1080"));

    const auto buckets = WireCheck::array(o, QStringLiteral("buckets"));
    if (!buckets)
        return fail(buckets.error());
    if (buckets->size() != 24)
        return fail(QStringLiteral("\"buckets\" must hold 24 hours, not ") + QString::number(buckets->size()));
    qint64 sum = 0;
    for (const auto &b : *buckets) {
        const auto n = WireCheck::asInteger(b);
        if (!n || *n < 0 || *n > 3600)
            return fail(QStringLiteral("every bucket must be a whole number of 0 to 3600 seconds"));
        day.buckets.append(static_cast<int>(*n));
        sum += *n;
    }
    if (sum != day.totalSeconds)
        return fail(QStringLiteral("\"total_seconds\" is ") + QString::number(day.totalSeconds) +
                    QStringLiteral(" but the buckets add up to ") + QString::number(sum));
    return day;
}

}  // namespace fennimar::refbackend
