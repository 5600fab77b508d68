#include "measure/MonitoredApps.h"

#include "core/Log.h"

namespace fennimar {

namespace {

const QString separator = QStringLiteral(" \u00b7 ");

}  // namespace

MonitoredApps::MonitoredApps(BackendClient client, QString sessionToken, QString deviceId, const Clock &clock)
    : m_client(std::move(client)),
      m_sessionToken(std::move(sessionToken)),
      m_deviceId(std::move(deviceId)),
      m_clock(clock)
{
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
    m_lastError.reset();
    m_failingSince.reset();
    Log::info(QStringLiteral("monitored") + separator +
              QStringLiteral("%1 app(s), %2 site(s)").arg(m_bundleIds.size()).arg(m_domains.size()));
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
