#pragma once

#include "backend/BackendRecords.h"
#include "backend/BackendResult.h"
#include "backend/SystemInfo.h"
#include "core/DayRecord.h"
#include "platform/AppCatalog.h"
#include "core/CancelToken.h"
#include "core/Clock.h"

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>
#include <QUrl>

#include <QCoroTask>

#include <memory>
#include <variant>
#include <vector>

class QNetworkRequest;

namespace fennimar {

// The one way the agent talks to its backend: JSON over HTTP(S). An immutable value; copies are cheap
// and share one session (a QNetworkAccessManager on the thread that created the client, with no
// cookie store, no cache and no stored credentials). It never retries and never logs: callers decide
// when to try again and what to say. A request in flight keeps the session alive, so the client it
// was started from may be dropped meanwhile.
//
// Every operation is a coroutine to be awaited on the creating thread (the main thread). It never
// throws; a failure is a ClientError in the result. Each request fails with a Transport error when
// it makes no progress for Limits::stall, when it is not finished within Limits::total, when the
// answer's body would exceed Limits::maxBodyBytes, when it is redirected to another origin (or from
// https to http), and when its CancelToken is cancelled. The session token never appears in an
// error's text.
class BackendClient {
public:
    using ClientError = fennimar::ClientError;
    struct Limits {
        Millis stall{20000};
        Millis total{60000};
        qint64 maxBodyBytes = 8 * 1024 * 1024;
    };

    // One shared session for this client and its copies. baseURL is an absolute http/https URL; its
    // path stays in front of every endpoint's path. clock must outlive the client, its copies and
    // every request in flight (a request reads it until it ends, even after the client is dropped).
    static BackendClient create(QUrl baseURL, Clock &clock, Limits limits);
    static BackendClient create(QUrl baseURL, Clock &clock);  // the default Limits

    const QUrl &baseURL() const;

    // POST /api/devices/setup-pending with the device type and the platform facts: a new pair code.
    QCoro::Task<BackendResult<PairingTicket>> requestPairing(const SystemInfo &system, CancelToken cancel = {}) const;
    // GET /api/devices/setup-status/<token>: whether the code was claimed.
    QCoro::Task<BackendResult<SetupStatus>> setupStatus(QString token, CancelToken cancel = {}) const;
    // What the heartbeat's health snapshot says, one member of "checks" each.
    struct HealthChecks {
        bool accessibilityGranted = false;  // "macos_accessibility_granted"
        bool loginItemEnabled = false;      // "macos_login_item_enabled"
        bool foregroundSampling = true;     // "foreground_sampling": the desktop can tell the app in front
        bool noTamperEvidence = true;       // "tamper_evidence": nothing seen since the last heartbeat
        bool monitoredListCurrent = true;   // "monitored_list": the list in use is not stale
        bool browserPagesReadable = true;   // "browser_pages": no browser in front hides its page for long
    };

    // POST /api/devices/<deviceId>/heartbeat, unauthenticated; the answer's raw body (usually ignored).
    QCoro::Task<BackendResult<QByteArray>> heartbeat(QString deviceId, HealthChecks checks, const SystemInfo &system,
                                                     CancelToken cancel = {}) const;
    // The same with foreground sampling working.
    QCoro::Task<BackendResult<QByteArray>> heartbeat(QString deviceId, bool accessibilityGranted, bool loginItemEnabled,
                                                     const SystemInfo &system, CancelToken cancel = {}) const
    {
        return heartbeat(std::move(deviceId), HealthChecks{accessibilityGranted, loginItemEnabled, true, true}, system,
                         std::move(cancel));
    }
    // POST /api/guard/heartbeat with today's record and the backfill days (member left out when empty).
    QCoro::Task<BackendResult<std::monostate>> reportUsage(QString sessionToken, QString deviceId, DayRecord today,
                                                           std::vector<DayRecord> backfill, const SystemInfo &system,
                                                           CancelToken cancel = {}) const;
    // GET /api/guard/my-installed-apps[?device_id=..]: the package ids to measure (selectedPackages).
    // An empty deviceId sends no query.
    QCoro::Task<BackendResult<QStringList>> monitoredPackages(QString sessionToken, QString deviceId,
                                                              CancelToken cancel = {}) const;
    // POST /api/guard/desktop-apps-seen: the number of the sent apps that are new to the parent (0 when
    // the backend does not say).
    QCoro::Task<BackendResult<qint64>> reportAppsSeen(QString sessionToken, QString deviceId, std::vector<SeenApp> apps,
                                                      CancelToken cancel = {}) const;

    // The request bodies, built from the clock's current time. Pure apart from reading the facts.
    QJsonObject pairingBody(const SystemInfo &system) const;
    QJsonObject heartbeatBody(const HealthChecks &checks, const SystemInfo &system) const;
    QJsonObject usageBody(const QString &deviceId, const DayRecord &today, const std::vector<DayRecord> &backfill,
                          const SystemInfo &system) const;
    // The nine-member day object of one record.
    QJsonObject usagePayload(const DayRecord &record) const;
    static QJsonObject healthSnapshot(const HealthChecks &checks, const SystemInfo &system);
    static QJsonObject appsSeenBody(const QString &deviceId, const std::vector<SeenApp> &apps);

    // The URL of an endpoint: baseURL's path, one slash, then path with characters that a URL path
    // does not allow percent-encoded; query items only when query is non-empty.
    QUrl endpointURL(const QString &path, const QList<std::pair<QString, QString>> &query = {}) const;
    // Whether a redirect from one URL to another may be followed: only within one origin (scheme,
    // host and port), so a token never leaves for another host and https never drops to http.
    static bool redirectAllowed(const QUrl &from, const QUrl &to);

private:
    struct Session;
    explicit BackendClient(std::shared_ptr<Session> session) : m_session(std::move(session)) {}
    Clock &clock() const;

    // Sends one request and returns the body of a 2xx answer. Empty token: no Authorization header.
    QCoro::Task<BackendResult<QByteArray>> send(QByteArray method, QUrl url, QByteArray body, QString sessionToken,
                                                CancelToken cancel) const;
    QCoro::Task<BackendResult<QByteArray>> post(QString path, QJsonObject body, QString sessionToken,
                                                CancelToken cancel) const;
    template <typename T>
    static BackendResult<T> decode(const BackendResult<QByteArray> &raw);

    std::shared_ptr<Session> m_session;
};

}  // namespace fennimar
