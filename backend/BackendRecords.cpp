#include "backend/BackendRecords.h"

#include "platform/PlatformTraits.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace fennimar {

namespace {

// Reads members the way the backend's records are defined: required members must be there with
// their JSON type, optional ones may be missing or null, nothing is converted from another type.
class Reader {
public:
    Reader(QJsonObject object, QString prefix = {}) : m_object(std::move(object)), m_prefix(std::move(prefix)) {}

    static Result<QJsonObject> object(const QByteArray &body)
    {
        if (body.trimmed().isEmpty())
            return Result<QJsonObject>::failure(QStringLiteral("the body is empty"));
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(body, &error);
        if (error.error != QJsonParseError::NoError)
            return Result<QJsonObject>::failure(
                QStringLiteral("not JSON (%1 at offset %2)").arg(error.errorString()).arg(error.offset));
        if (!document.isObject())
            return Result<QJsonObject>::failure(QStringLiteral("the body is not a JSON object"));
        return document.object();
    }

    // The first failure, if any; later reads after a failure return empty values.
    const std::optional<QString> &failure() const { return m_failure; }

    QString requiredString(const char *key) { return required(key, QJsonValue::String, "a string").toString(); }
    bool requiredBool(const char *key) { return required(key, QJsonValue::Bool, "a boolean").toBool(); }

    std::optional<QString> optionalString(const char *key)
    {
        const QJsonValue v = optional(key, QJsonValue::String, "a string");
        return v.isString() ? std::optional(v.toString()) : std::nullopt;
    }
    std::optional<bool> optionalBool(const char *key)
    {
        const QJsonValue v = optional(key, QJsonValue::Bool, "a boolean");
        return v.isBool() ? std::optional(v.toBool()) : std::nullopt;
    }
    std::optional<qint64> optionalInteger(const char *key)
    {
        const QJsonValue v = optional(key, QJsonValue::Double, "an integer");
        if (!v.isDouble())
            return std::nullopt;
        const double d = v.toDouble();
        // Integers beyond 2^53 cannot be told apart from fractions once read as a double.
        if (std::floor(d) != d || std::fabs(d) > 9007199254740992.0) {
            fail(key, "an integer");
            return std::nullopt;
        }
        return v.toInteger();
    }
    std::optional<QJsonObject> optionalObject(const char *key)
    {
        const QJsonValue v = optional(key, QJsonValue::Object, "an object");
        return v.isObject() ? std::optional(v.toObject()) : std::nullopt;
    }
    std::optional<QJsonArray> optionalArray(const char *key)
    {
        const QJsonValue v = optional(key, QJsonValue::Array, "an array");
        return v.isArray() ? std::optional(v.toArray()) : std::nullopt;
    }

    void fail(const QString &what)
    {
        if (!m_failure)
            m_failure = what;
    }
    QString name(const char *key) const { return m_prefix + QString::fromLatin1(key); }

private:
    QJsonValue required(const char *key, QJsonValue::Type type, const char *typeName)
    {
        const QJsonValue v = m_object.value(QLatin1String(key));
        if (v.isUndefined())
            fail(QStringLiteral("member \"%1\" is missing").arg(name(key)));
        else if (v.isNull())
            fail(QStringLiteral("member \"%1\" is null").arg(name(key)));
        else if (v.type() != type)
            fail(key, typeName);
        return m_failure ? QJsonValue() : v;
    }
    QJsonValue optional(const char *key, QJsonValue::Type type, const char *typeName)
    {
        const QJsonValue v = m_object.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return QJsonValue();
        if (v.type() != type) {
            fail(key, typeName);
            return QJsonValue();
        }
        return v;
    }
    void fail(const char *key, const char *typeName)
    {
        fail(QStringLiteral("member \"%1\" is not %2").arg(name(key), QLatin1String(typeName)));
    }

    QJsonObject m_object;
    QString m_prefix;
    std::optional<QString> m_failure;
};

template <typename T>
Result<T> finish(const Reader &reader, T value)
{
    if (reader.failure())
        return Result<T>::failure(*reader.failure());
    return value;
}

}  // namespace

Result<PairingTicket> PairingTicket::fromJson(const QByteArray &body)
{
    const auto object = Reader::object(body);
    if (!object)
        return Result<PairingTicket>::failure(object.error());
    Reader r(object.value());
    PairingTicket t;
    t.token = r.requiredString("token");
    t.pairCode = r.requiredString("pair_code");
    t.deviceId = r.requiredString("device_id");
    t.expiresAt = r.requiredString("expires_at");
    return finish(r, std::move(t));
}

Result<SetupStatus> SetupStatus::fromJson(const QByteArray &body)
{
    const auto object = Reader::object(body);
    if (!object)
        return Result<SetupStatus>::failure(object.error());
    Reader r(object.value());
    SetupStatus s;
    s.claimed = r.requiredBool("claimed");
    s.expired = r.requiredBool("expired");
    s.deviceId = r.optionalString("device_id");
    s.childId = r.optionalString("child_id");
    s.deviceName = r.optionalString("device_name");
    s.childSessionToken = r.optionalString("child_session_token");
    if (const auto child = r.optionalObject("child")) {
        Reader c(*child, QStringLiteral("child."));
        s.child = ChildSummary{c.optionalString("name")};
        if (c.failure())
            r.fail(*c.failure());
    }
    return finish(r, std::move(s));
}

Result<InstalledAppsResponse> InstalledAppsResponse::fromJson(const QByteArray &body)
{
    const auto object = Reader::object(body);
    if (!object)
        return Result<InstalledAppsResponse>::failure(object.error());
    Reader r(object.value());
    InstalledAppsResponse response;
    if (const auto apps = r.optionalArray("apps")) {
        response.apps.emplace();
        response.apps->reserve(static_cast<std::size_t>(apps->size()));
        for (qsizetype i = 0; i < apps->size() && !r.failure(); ++i) {
            const QString prefix = QStringLiteral("apps[%1].").arg(i);
            if (!apps->at(i).isObject()) {
                r.fail(QStringLiteral("member \"apps[%1]\" is not an object").arg(i));
                break;
            }
            Reader a(apps->at(i).toObject(), prefix);
            App app{a.optionalString("package_id"), a.optionalBool("is_blocked")};
            if (a.failure())
                r.fail(*a.failure());
            response.apps->push_back(std::move(app));
        }
    }
    return finish(r, std::move(response));
}

QStringList selectedPackages(const InstalledAppsResponse &response)
{
    QStringList out;
    if (!response.apps)
        return out;
    const QString appPrefix = platform::appPrefix();
    const QString webPrefix = QStringLiteral("web:");
    for (const auto &app : *response.apps) {
        if (app.isBlocked != true || !app.packageId)
            continue;
        if (app.packageId->startsWith(appPrefix) || app.packageId->startsWith(webPrefix))
            out.push_back(*app.packageId);
    }
    return out;
}

Result<AppsSeenResponse> AppsSeenResponse::fromJson(const QByteArray &body)
{
    const auto object = Reader::object(body);
    if (!object)
        return Result<AppsSeenResponse>::failure(object.error());
    Reader r(object.value());
    AppsSeenResponse response;
    response.recorded = r.optionalInteger("recorded");
    response.newCount = r.optionalInteger("new");
    response.skippedSystem = r.optionalInteger("skipped_system");
    return finish(r, std::move(response));
}

}  // namespace fennimar
