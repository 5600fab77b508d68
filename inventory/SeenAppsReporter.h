#pragma once

#include "backend/BackendClient.h"
#include "platform/AppCatalog.h"
#include "core/CancelToken.h"
#include "core/Clock.h"
#include "services/PairedIdentity.h"

#include <QDateTime>
#include <QSet>
#include <QString>

#include <QCoroTask>

#include <map>
#include <memory>
#include <optional>

namespace fennimar {

// Tells the backend which applications exist on this computer, sending each one only when the backend
// has not been told about it or its name or category changed. What the backend accepted is kept in
// "reported-apps.json" so that a restart does not resend everything. One per measuring start; main
// thread only.
class SeenAppsReporter {
public:
    static constexpr const char *stateFileName = "reported-apps.json";
    static constexpr qint64 maxStateBytes = 4 * 1024 * 1024;

    // Loads the state file at once (default: the support directory's "reported-apps.json"). A
    // missing file starts empty silently; a file that cannot be read or holds neither the object
    // form nor the older array form is moved aside (never destroyed), logged once, and the reporter
    // starts empty. catalog and clock must outlive the reporter.
    SeenAppsReporter(BackendClient client, PairedIdentity identity, AppCatalog &catalog, const Clock &clock,
                     QString statePath = {});
    ~SeenAppsReporter() { *m_alive = false; }
    SeenAppsReporter(const SeenAppsReporter &) = delete;
    SeenAppsReporter &operator=(const SeenAppsReporter &) = delete;

    // "name|category" (empty category when none): what must change for an app to be sent again.
    static QString signature(const SeenApp &app);

    // Marks an app to be sent unless the backend already has it with this signature, a version of
    // it is already waiting (the first waiting version stays), or the backend refused it. Its name
    // and category are cut to maxNameLength and maxCategoryLength characters. Cheap; never fails.
    void note(const SeenApp &app);

    // Notes every installed application in the inventory's order and logs a summary. Costs one
    // catalog scan.
    void seedFromInstalledApps();

    // Sends every waiting app, at most maxBatch per request. Nothing to send: no request, no log.
    // Each batch that arrives has its signatures remembered; when every batch arrived the waiting
    // apps are cleared (those noted meanwhile included: they are noted again when next seen). One
    // save and one INFO line for the whole flush. A batch refused as content (400, 413, 422) is split
    // in halves until the app at fault is alone; that app is set aside (one WARN line) and the others
    // are sent. Any other failure (403, 404, 429, 5xx, no answer) keeps what has not arrived for the
    // next flush, and the error is kept (lastError, failingSince) and logged; an answer with
    // Retry-After sends nothing more until that many seconds (at most maxRetryAfter) have passed.
    // Cancel ends the flush and logs nothing.
    // Never throws; safe if the reporter is destroyed while it waits.
    QCoro::Task<void> flush(CancelToken cancel = {});

    const std::map<QString, SeenApp> &pending() const { return m_pending; }
    const std::map<QString, QString> &reported() const { return m_reported; }
    const std::optional<QString> &lastError() const { return m_lastError; }
    // When the current run of failed flushes began; nothing once a flush succeeds.
    const std::optional<QDateTime> &failingSince() const { return m_failingSince; }
    // Apps the backend refused on their own: no longer sent (until the agent restarts).
    const QSet<QString> &refused() const { return m_refused; }

    static constexpr std::size_t maxBatch = 100;         // apps per request
    static constexpr Millis maxRetryAfter{3600000};      // the longest pause a Retry-After gets
    static constexpr qsizetype maxNameLength = 256;      // characters kept of a display name
    static constexpr qsizetype maxCategoryLength = 128;  // characters kept of a category
    qint64 totalReported() const { return m_totalReported; }
    const QString &statePath() const { return m_statePath; }

    // The state file's content for a reported map: a compact JSON object of identifier to signature.
    static QByteArray encode(const std::map<QString, QString> &reported);
    // The object form, or the older array of identifiers (each with an empty signature, so that it
    // is sent once more); anything else is an error.
    static Result<std::map<QString, QString>> decode(const QByteArray &bytes);

private:
    void load();
    void save();

    std::map<QString, SeenApp> m_pending;
    std::map<QString, QString> m_reported;
    QSet<QString> m_refused;
    const BackendClient m_client;
    const PairedIdentity m_identity;
    AppCatalog &m_catalog;
    const Clock &m_clock;
    const QString m_statePath;
    std::optional<QString> m_lastError;
    std::optional<QDateTime> m_failingSince;
    std::optional<Millis> m_notBefore;  // on the monotonic clock: the backend's Retry-After
    qint64 m_totalReported = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace fennimar
