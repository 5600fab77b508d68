#include "services/PairedIdentity.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTimeZone>

#include <cmath>
#include <utility>

namespace fennimar {

namespace {

// Far beyond any real pairing, yet small enough that milliseconds fit a qint64 and a QDateTime.
constexpr double maxReferenceSeconds = 1.0e11;

}  // namespace

Result<QByteArray> PairedIdentity::toJson() const
{
    if (!pairedAt.isValid())
        return Result<QByteArray>::failure(QStringLiteral("the pairing time is not a valid date"));
    // Subtract in whole milliseconds first, so that the only rounding is the final division.
    const qint64 msecs = pairedAt.toMSecsSinceEpoch() - referenceDateUnixSeconds * 1000;
    QJsonObject object;
    object.insert(QStringLiteral("deviceId"), deviceId);
    object.insert(QStringLiteral("childId"), childId);
    object.insert(QStringLiteral("childName"), childName);
    object.insert(QStringLiteral("sessionToken"), sessionToken);
    object.insert(QStringLiteral("pairedAt"), static_cast<double>(msecs) / 1000.0);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Result<PairedIdentity> PairedIdentity::fromJson(const QByteArray &json)
{
    using R = Result<PairedIdentity>;
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return R::failure(QStringLiteral("not JSON: %1").arg(parseError.errorString()));
    if (!document.isObject())
        return R::failure(QStringLiteral("not a JSON object"));
    const QJsonObject object = document.object();

    PairedIdentity identity;
    const std::pair<const char *, QString *> strings[] = {
        {"deviceId", &identity.deviceId},
        {"childId", &identity.childId},
        {"childName", &identity.childName},
        {"sessionToken", &identity.sessionToken},
    };
    for (const auto &[key, field] : strings) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isString())
            return R::failure(QStringLiteral("\"%1\" is missing or not a string").arg(QLatin1String(key)));
        *field = value.toString();
    }

    const QJsonValue pairedAt = object.value(QStringLiteral("pairedAt"));
    if (!pairedAt.isDouble())
        return R::failure(QStringLiteral("\"pairedAt\" is missing or not a number"));
    const double seconds = pairedAt.toDouble();
    if (!std::isfinite(seconds) || std::fabs(seconds) > maxReferenceSeconds)
        return R::failure(QStringLiteral("\"pairedAt\" is out of range"));
    const auto msecs = static_cast<qint64>(std::llround(seconds * 1000.0));
    identity.pairedAt = QDateTime::fromMSecsSinceEpoch(msecs + referenceDateUnixSeconds * 1000, QTimeZone::utc());
    return identity;
}

}  // namespace fennimar
