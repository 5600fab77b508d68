#include "measure/MonitoredApps.h"

#include "core/DurableFile.h"
#include "core/Log.h"
#include "core/Sleep.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>

namespace fennimar {

namespace {

const QString separator = QStringLiteral(" \u00b7 ");

QString counts(qsizetype apps, qsizetype sites)
{
    return QStringLiteral("%1 app(s), %2 site(s)").arg(apps).arg(sites);
}

// The stored list: {"deviceId":..,"fetchedAt":"<ISO 8601 UTC>","packages":[..]}, the packages as
// the backend sent them.
struct StoredList {
    QString deviceId;
    QDateTime fetchedAt;
    QStringList packages;
};

Result<StoredList> decodeStored(const QByteArray &bytes)
{
    using R = Result<StoredList>;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return R::failure(QStringLiteral("not JSON: ") + parseError.errorString());
    const QJsonObject object = document.object();
    StoredList list;
    list.deviceId = object.value(QLatin1String("deviceId")).toString();
    list.fetchedAt = QDateTime::fromString(object.value(QLatin1String("fetchedAt")).toString(), Qt::ISODateWithMs);
    const QJsonValue packages = object.value(QLatin1String("packages"));
    if (list.deviceId.isEmpty() || !list.fetchedAt.isValid() || !packages.isArray())
        return R::failure(QStringLiteral("\"deviceId\", \"fetchedAt\" or \"packages\" is missing or malformed"));
    for (const QJsonValue &package : packages.toArray()) {
        if (!package.isString())
            return R::failure(QStringLiteral("a package id is not a string"));
        list.packages << package.toString();
    }
    return list;
}

}  // namespace

MonitoredApps::MonitoredApps(BackendClient client, QString sessionToken, QString deviceId, Clock &clock,
                             QString storePath)
    : m_client(std::move(client)),
      m_sessionToken(std::move(sessionToken)),
      m_deviceId(std::move(deviceId)),
      m_clock(clock),
      m_storePath(std::move(storePath))
{
    if (!m_storePath.isEmpty())
        load();
}

void MonitoredApps::load()
{
    const FileRead read = readSmallFile(m_storePath, maxFileBytes);
    if (read.notFound)
        return;
    const Result<StoredList> stored =
        read.error.isEmpty() ? decodeStored(read.bytes) : Result<StoredList>::failure(read.error);
    if (!stored) {
        // Never destroyed: the next good refresh writes a new file beside it.
        const Result<QString> aside = keepAside(m_storePath, m_clock.now());
        Log::error(QStringLiteral("stored monitored list unreadable") + separator + stored.error() + separator +
                   (aside ? QStringLiteral("moved aside to ") + aside.value()
                          : QStringLiteral("could not be moved aside: ") + aside.error()) +
                   separator + QStringLiteral("counting starts with no list"));
        return;
    }
    // Another pairing's choice is not this child's.
    if (stored.value().deviceId != m_deviceId) {
        Log::info(QStringLiteral("stored monitored list belongs to device ") + stored.value().deviceId + separator +
                  QStringLiteral("not used"));
        return;
    }
    apply(stored.value().packages);
    m_lastFetch = stored.value().fetchedAt;
    Log::info(QStringLiteral("monitored") + separator + counts(m_bundleIds.size(), m_domains.size()) + separator +
              QStringLiteral("stored list fetched ") + m_lastFetch->toUTC().toString(Qt::ISODate));
}

void MonitoredApps::store(const QStringList &packages) const
{
    if (m_storePath.isEmpty())
        return;
    const QJsonObject object{
        {QStringLiteral("deviceId"), m_deviceId},
        {QStringLiteral("fetchedAt"), m_lastFetch->toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("packages"), QJsonArray::fromStringList(packages)},
    };
    // The list stays in force in memory: only a later start before the network would miss it.
    if (const Status saved = writeFileAtomically(m_storePath, QJsonDocument(object).toJson(QJsonDocument::Compact));
        !saved)
        Log::warn(QStringLiteral("monitored list not stored") + separator + saved.error());
}

void MonitoredApps::forget(const QString &storePath)
{
    QFile file(storePath);
    if (file.exists() && !file.remove())
        Log::warn(QStringLiteral("stored monitored list not removed") + separator + file.errorString());
}

bool MonitoredApps::isStale() const
{
    if (!m_lastError)
        return false;
    // A list from the future (the clock was set back) is of unknown age: as stale as an old one.
    return !m_lastFetch || std::abs(m_lastFetch->msecsTo(m_clock.now())) > staleAfter.count();
}

void MonitoredApps::apply(const QStringList &packages)
{
    QSet<QString> bundleIds, domains, matchDomains;
    for (const QString &package : packages) {
        if (package.startsWith(QLatin1String("web:"))) {
            const QString domain = package.mid(4).toLower();
            if (domain.isEmpty())
                continue;
            domains.insert(domain);
            matchDomains.insert(SiteHost::canonicalDomain(domain));
        } else {
            bundleIds.insert(package);
        }
    }
    m_bundleIds = std::move(bundleIds);
    m_domains = std::move(domains);
    m_matchDomains = std::move(matchDomains);
}

QCoro::Task<void> MonitoredApps::refresh(CancelToken cancel)
{
    const std::shared_ptr<bool> alive = m_alive;
    const BackendClient client = m_client;
    const BackendResult<QStringList> result = co_await client.monitoredPackages(m_sessionToken, m_deviceId, cancel);
    if (!*alive)
        co_return;
    if (!result) {
        if (cancel.isCancelled())
            co_return;
        m_lastError = result.error().description();
        if (!m_failingSince)
            m_failingSince = m_clock.now();
        Log::warn(QStringLiteral("monitored apps refresh failed") + separator + *m_lastError);
        co_return;
    }
    apply(result.value());
    m_lastFetch = m_clock.now();
    m_fetchedThisRun = true;
    m_lastError.reset();
    m_failingSince.reset();
    Log::info(QStringLiteral("monitored") + separator + counts(m_bundleIds.size(), m_domains.size()));
    // A list that arrives as measuring stops (unpair) is not written after the store was forgotten.
    if (!cancel.isCancelled())
        store(result.value());
}

QCoro::Task<void> MonitoredApps::retryUntilFetched(CancelToken cancel)
{
    const std::shared_ptr<bool> alive = m_alive;
    Clock &clock = m_clock;
    for (Millis wait = retryFirst; !m_fetchedThisRun; wait = std::min(wait * 2, retryMax)) {
        const bool slept = co_await sleepFor(clock, wait, cancel);
        if (!*alive || !slept || m_fetchedThisRun)  // fetched meanwhile (the heartbeat got through)
            co_return;
        co_await refresh(cancel);
        if (!*alive || cancel.isCancelled())
            co_return;
    }
}

bool MonitoredApps::isMonitored(const QString &url) const
{
    const std::optional<QString> visited = host(url);
    if (!visited || m_matchDomains.isEmpty())
        return false;
    // The host itself, then every suffix that starts after one of its dots: exactly the hosts that
    // equal a domain or end with "." followed by it.
    QStringView rest(*visited);
    while (true) {
        if (m_matchDomains.contains(rest.toString()))
            return true;
        const qsizetype dot = rest.indexOf(QLatin1Char('.'));
        if (dot < 0)
            return false;
        rest = rest.mid(dot + 1);
    }
}

}  // namespace fennimar
