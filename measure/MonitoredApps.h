#pragma once

#include "backend/BackendClient.h"
#include "core/SiteHost.h"
#include "core/CancelToken.h"
#include "core/Clock.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <memory>
#include <optional>

namespace fennimar {

// The agent's copy of what the parent chose to count: application package ids ("linux:" or "mac:"
// followed by an identifier, kept exactly as sent) and website domains. Empty until the first
// successful refresh, so nothing counts before it. One per pairing; main thread only.
class MonitoredApps {
public:
    // clock must outlive the list.
    MonitoredApps(BackendClient client, QString sessionToken, QString deviceId, const Clock &clock);
    ~MonitoredApps() { *m_alive = false; }
    MonitoredApps(const MonitoredApps &) = delete;
    MonitoredApps &operator=(const MonitoredApps &) = delete;

    // Fetches the current list and replaces both sets together, or keeps the previous list in force
    // and records and logs the error. One request, no retry. A failure after cancel changes and
    // logs nothing. Never throws; safe if the list is destroyed while it waits.
    QCoro::Task<void> refresh(CancelToken cancel = {});

    // Replaces both sets from package ids as the backend delivers them: "web:" followed by a domain
    // goes (lower-cased, empty ones dropped) into the domains, anything else unchanged into the
    // package ids. Duplicates collapse. The success half of refresh.
    void apply(const QStringList &packages);

    // Whether the address's host (see host()) is a monitored domain or lies below one, at any depth.
    // Cheap: one URL parse and one set look-up per label of the host.
    bool isMonitored(const QString &url) const;

    // The comparable host of an address (SiteHost::of): lower case, one leading "www." removed,
    // nothing for text without a host or with a single-label host.
    static std::optional<QString> host(const QString &address) { return SiteHost::of(address); }

    const QSet<QString> &bundleIds() const { return m_bundleIds; }
    const QSet<QString> &domains() const { return m_domains; }
    const std::optional<QDateTime> &lastFetch() const { return m_lastFetch; }
    const std::optional<QString> &lastError() const { return m_lastError; }
    // When the current run of failed refreshes began; nothing once a refresh succeeds.
    const std::optional<QDateTime> &failingSince() const { return m_failingSince; }

private:
    QSet<QString> m_bundleIds;
    QSet<QString> m_domains;
    QSet<QString> m_matchDomains;  // m_domains in the form visited hosts take (SiteHost::canonicalDomain)
    std::optional<QDateTime> m_lastFetch;
    std::optional<QString> m_lastError;
    std::optional<QDateTime> m_failingSince;
    const BackendClient m_client;
    const QString m_sessionToken;
    const QString m_deviceId;
    const Clock &m_clock;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace fennimar
