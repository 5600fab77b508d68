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
// followed by an identifier, kept exactly as sent) and website domains. The last good list is kept
// in a file beside the ledger, so that a computer that starts before its network counts by it: a
// run starts with the list stored for its own pairing, or empty when there is none. One per
// pairing; main thread only.
class MonitoredApps {
public:
    // The first refreshes of a run that fail are tried again after these, doubling up to the last.
    static constexpr Millis retryFirst{10000};
    static constexpr Millis retryMax{300000};
    // A list in use that was fetched longer ago than this, while refreshes fail, is stale: the
    // regular refresh (every 15 min) has then failed four times, or this run has not fetched yet.
    static constexpr Millis staleAfter{3600000};
    static constexpr qint64 maxFileBytes = 4 * 1024 * 1024;

    // Loads the list stored at storePath when it belongs to deviceId (a missing file, or another
    // pairing's, gives an empty list with a log line; a file that cannot be read or decoded is moved
    // aside, logged at ERROR, and gives an empty list). Saves each good refresh there durably. An
    // empty storePath stores nothing. clock must outlive the list.
    MonitoredApps(BackendClient client, QString sessionToken, QString deviceId, Clock &clock, QString storePath = {});
    ~MonitoredApps() { *m_alive = false; }
    MonitoredApps(const MonitoredApps &) = delete;
    MonitoredApps &operator=(const MonitoredApps &) = delete;

    // Fetches the current list and replaces both sets together (and stores it), or keeps the
    // previous list in force and records and logs the error. One request, no retry. A failure after
    // cancel changes and logs nothing. Never throws; safe if the list is destroyed while it waits.
    QCoro::Task<void> refresh(CancelToken cancel = {});
    // Until a refresh of this run succeeds: waits retryFirst, refreshes, and again after twice the
    // wait, up to retryMax. Ends at the first success, at cancel, or when the list is destroyed.
    QCoro::Task<void> retryUntilFetched(CancelToken cancel);
    // Removes the stored list (unpairing); a failure other than "not there" is logged.
    static void forget(const QString &storePath);

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
    // When the list in use was fetched: in this run, or by the run that stored it.
    const std::optional<QDateTime> &lastFetch() const { return m_lastFetch; }
    bool fetchedThisRun() const { return m_fetchedThisRun; }
    // Whether refreshes fail while the list in use is older than staleAfter, or there is none.
    bool isStale() const;
    const std::optional<QString> &lastError() const { return m_lastError; }
    // When the current run of failed refreshes began; nothing once a refresh succeeds.
    const std::optional<QDateTime> &failingSince() const { return m_failingSince; }

private:
    void load();
    void store(const QStringList &packages) const;

    QSet<QString> m_bundleIds;
    QSet<QString> m_domains;
    QSet<QString> m_matchDomains;  // m_domains in the form visited hosts take (SiteHost::canonicalDomain)
    std::optional<QDateTime> m_lastFetch;
    std::optional<QString> m_lastError;
    std::optional<QDateTime> m_failingSince;
    bool m_fetchedThisRun = false;
    const BackendClient m_client;
    const QString m_sessionToken;
    const QString m_deviceId;
    Clock &m_clock;
    const QString m_storePath;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace fennimar
