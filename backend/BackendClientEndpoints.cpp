// BackendClient's endpoints: each one's method, path, headers and body, and how its answer is read.
#include "backend/BackendClient.h"

#include "backend/BuildIdentity.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace fennimar {

namespace {

QString segment(const QString &text)
{
    // Everything but the unreserved characters, so a "/" or "?" in an id stays inside its segment.
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

qint64 millisSinceEpoch(const QDateTime &at)
{
    return at.toMSecsSinceEpoch();
}

}  // namespace

template <typename T>
BackendResult<T> BackendClient::decode(const BackendResult<QByteArray> &raw)
{
    if (!raw)
        return raw.error();
    Result<T> record = T::fromJson(raw.value());
    if (!record)
        return ClientError::decoding(QString::fromLatin1(T::typeName), record.error());
    return std::move(record).value();
}

QCoro::Task<BackendResult<QByteArray>> BackendClient::post(QString path, QJsonObject body, QString sessionToken,
                                                           CancelToken cancel) const
{
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
    auto result = co_await send(QByteArrayLiteral("POST"), endpointURL(path), json, sessionToken, cancel);
    co_return result;
}

QCoro::Task<BackendResult<PairingTicket>> BackendClient::requestPairing(const SystemInfo &system,
                                                                        CancelToken cancel) const
{
    const QJsonObject body = pairingBody(system);
    const auto raw = co_await post(QStringLiteral("/api/devices/setup-pending"), body, QString(), cancel);
    co_return decode<PairingTicket>(raw);
}

QCoro::Task<BackendResult<SetupStatus>> BackendClient::setupStatus(QString token, CancelToken cancel) const
{
    const QUrl url = endpointURL(QStringLiteral("/api/devices/setup-status/") + segment(token));
    const auto raw = co_await send(QByteArrayLiteral("GET"), url, QByteArray(), QString(), cancel);
    co_return decode<SetupStatus>(raw);
}

QCoro::Task<BackendResult<QByteArray>> BackendClient::heartbeat(QString deviceId, HealthChecks checks,
                                                                const SystemInfo &system, CancelToken cancel) const
{
    const QJsonObject body = heartbeatBody(checks, system);
    const QString path = QStringLiteral("/api/devices/") + segment(deviceId) + QStringLiteral("/heartbeat");
    auto raw = co_await post(path, body, QString(), cancel);
    co_return raw;
}

QCoro::Task<BackendResult<std::monostate>> BackendClient::reportUsage(QString sessionToken, QString deviceId,
                                                                      DayRecord today, std::vector<DayRecord> backfill,
                                                                      const SystemInfo &system,
                                                                      CancelToken cancel) const
{
    const QJsonObject body = usageBody(deviceId, today, backfill, system);
    const auto raw = co_await post(QStringLiteral("/api/guard/heartbeat"), body, sessionToken, cancel);
    BackendResult<std::monostate> outcome = std::monostate();
    if (!raw)
        outcome = raw.error();
    co_return outcome;
}

QCoro::Task<BackendResult<QStringList>> BackendClient::monitoredPackages(QString sessionToken, QString deviceId,
                                                                         CancelToken cancel) const
{
    QList<std::pair<QString, QString>> query;
    if (!deviceId.isEmpty())
        query.push_back({QStringLiteral("device_id"), deviceId});
    const QUrl url = endpointURL(QStringLiteral("/api/guard/my-installed-apps"), query);
    const auto raw = co_await send(QByteArrayLiteral("GET"), url, QByteArray(), sessionToken, cancel);
    const auto response = decode<InstalledAppsResponse>(raw);
    if (!response)
        co_return response.error();
    co_return selectedPackages(response.value());
}

QCoro::Task<BackendResult<qint64>> BackendClient::reportAppsSeen(QString sessionToken, QString deviceId,
                                                                 std::vector<SeenApp> apps, CancelToken cancel) const
{
    const QJsonObject body = appsSeenBody(deviceId, apps);
    const auto raw = co_await post(QStringLiteral("/api/guard/desktop-apps-seen"), body, sessionToken, cancel);
    const auto response = decode<AppsSeenResponse>(raw);
    if (!response)
        co_return response.error();
    co_return response.value().newCount.value_or(0);
}

QJsonObject BackendClient::pairingBody(const SystemInfo &system) const
{
    return QJsonObject{
        {QStringLiteral("device_type"), system.pairingDeviceType()},
        {QStringLiteral("platform_info"), system.platformInfo()},
    };
}

QJsonObject BackendClient::healthSnapshot(const HealthChecks &flags, const SystemInfo &system)
{
    auto check = [](bool ok) {
        return QJsonObject{{QStringLiteral("ok"), ok}, {QStringLiteral("actionable_intent"), QJsonValue::Null}};
    };
    // The backend keys the first two checks on these names on every platform; the third tells it
    // when nothing can be measured at all, which the other two cannot show; the fourth when
    // something in the session tried to make the agent count nothing or the wrong thing while it
    // still looked healthy (a fake screen lock, a rewritten active window, a foreign holder of the
    // agent's name), since the last heartbeat; the fifth when the monitored list in use is over an
    // hour old, or missing, while its refreshes fail; the sixth when the browser in front has kept
    // its page unreadable for minutes, so its sites count nothing.
    const QJsonObject checks{
        {QStringLiteral("macos_accessibility_granted"), check(flags.accessibilityGranted)},
        {QStringLiteral("macos_login_item_enabled"), check(flags.loginItemEnabled)},
        {QStringLiteral("foreground_sampling"), check(flags.foregroundSampling)},
        {QStringLiteral("tamper_evidence"), check(flags.noTamperEvidence)},
        {QStringLiteral("monitored_list"), check(flags.monitoredListCurrent)},
        {QStringLiteral("browser_pages"), check(flags.browserPagesReadable)},
    };
    return QJsonObject{{QStringLiteral("os"), system.platformInfo()}, {QStringLiteral("checks"), checks}};
}

QJsonObject BackendClient::heartbeatBody(const HealthChecks &checks, const SystemInfo &system) const
{
    return QJsonObject{
        {QStringLiteral("platform_info"), system.platformInfo()},
        {QStringLiteral("app_build"), BuildIdentity::payload(system)},
        {QStringLiteral("health_snapshot"), healthSnapshot(checks, system)},
    };
}

QJsonObject BackendClient::usagePayload(const DayRecord &record) const
{
    QJsonArray buckets;
    for (const qint64 seconds : record.buckets)
        buckets.push_back(seconds);
    // The backend keys usage on these fixed source, platform and carrier values.
    return QJsonObject{
        {QStringLiteral("date"), record.date},
        {QStringLiteral("source"), QStringLiteral("macos_foreground_sampler")},
        {QStringLiteral("total_seconds"), record.total()},
        {QStringLiteral("bucket_seconds"), DayRecord::secondsPerBucket},
        {QStringLiteral("buckets"), buckets},
        {QStringLiteral("tz_offset_minutes"), record.tzOffsetMinutes},
        {QStringLiteral("platform"), QStringLiteral("desktop")},
        {QStringLiteral("carrier"), QStringLiteral("macos_agent")},
        {QStringLiteral("computed_at_ms"), millisSinceEpoch(clock().now())},
    };
}

QJsonObject BackendClient::usageBody(const QString &deviceId, const DayRecord &today,
                                     const std::vector<DayRecord> &backfill, const SystemInfo &system) const
{
    QJsonObject body{
        {QStringLiteral("device_id"), deviceId},
        {QStringLiteral("device_type"), QStringLiteral("desktop")},
        {QStringLiteral("app_build"), BuildIdentity::payload(system)},
        {QStringLiteral("wall_clock_ms"), millisSinceEpoch(clock().now())},
        {QStringLiteral("device_uptime_ms"), system.uptimeMs()},
        {QStringLiteral("daily_usage"), usagePayload(today)},
    };
    if (!backfill.empty()) {
        QJsonArray days;
        for (const DayRecord &record : backfill)
            days.push_back(usagePayload(record));
        body.insert(QStringLiteral("daily_usage_backfill"), days);
    }
    return body;
}

QJsonObject BackendClient::appsSeenBody(const QString &deviceId, const std::vector<SeenApp> &apps)
{
    QJsonArray list;
    for (const SeenApp &app : apps) {
        QJsonObject entry{{QStringLiteral("bundle_id"), app.bundleId}, {QStringLiteral("app_name"), app.name}};
        if (app.category)
            entry.insert(QStringLiteral("category"), *app.category);
        list.push_back(entry);
    }
    return QJsonObject{{QStringLiteral("device_id"), deviceId}, {QStringLiteral("apps"), list}};
}

}  // namespace fennimar
