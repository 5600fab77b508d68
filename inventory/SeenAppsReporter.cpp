#include "inventory/SeenAppsReporter.h"

#include "services/AgentFiles.h"
#include "core/Log.h"
#include "inventory/AppInventory.h"
#include "core/DurableFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <deque>
#include <vector>

namespace fennimar {

namespace {

const QString separator = QStringLiteral(" \u00b7 ");

QString defaultStatePath()
{
    return QDir(AgentFiles::supportDirectory()).filePath(QLatin1String(SeenAppsReporter::stateFileName));
}

}  // namespace

SeenAppsReporter::SeenAppsReporter(BackendClient client, PairedIdentity identity, AppCatalog &catalog,
                                   const Clock &clock, QString statePath)
    : m_client(std::move(client)),
      m_identity(std::move(identity)),
      m_catalog(catalog),
      m_clock(clock),
      m_statePath(statePath.isEmpty() ? defaultStatePath() : std::move(statePath))
{
    load();
}

QString SeenAppsReporter::signature(const SeenApp &app)
{
    return app.name + QLatin1Char('|') + app.category.value_or(QString());
}

QByteArray SeenAppsReporter::encode(const std::map<QString, QString> &reported)
{
    QJsonObject object;
    for (const auto &[id, sig] : reported)
        object.insert(id, sig);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Result<std::map<QString, QString>> SeenAppsReporter::decode(const QByteArray &bytes)
{
    using R = Result<std::map<QString, QString>>;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return R::failure(QStringLiteral("not JSON: ") + error.errorString());
    std::map<QString, QString> reported;
    if (document.isObject()) {
        const QJsonObject object = document.object();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!it.value().isString())
                return R::failure(QStringLiteral("the signature of \"%1\" is not a string").arg(it.key()));
            reported.emplace(it.key(), it.value().toString());
        }
        return reported;
    }
    if (document.isArray()) {
        for (const QJsonValue &v : document.array()) {
            if (!v.isString())
                return R::failure(QStringLiteral("the list holds something other than an identifier"));
            reported.emplace(v.toString(), QString());
        }
        return reported;
    }
    return R::failure(QStringLiteral("neither an object nor a list"));
}

void SeenAppsReporter::load()
{
    const FileRead read = readSmallFile(m_statePath, maxStateBytes);
    if (read.notFound)
        return;
    QString problem = read.error;
    if (problem.isEmpty()) {
        auto decoded = decode(read.bytes);
        if (decoded) {
            m_reported = std::move(decoded).value();
            m_totalReported = static_cast<qint64>(m_reported.size());
            return;
        }
        problem = decoded.error();
    }
    // The next successful report would overwrite the file: keep what was there for a person to see.
    const Result<QString> aside = keepAside(m_statePath, m_clock.now());
    Log::warn(QStringLiteral("reported apps unreadable") + separator + problem + separator +
              (aside ? QStringLiteral("moved aside to ") + aside.value()
                     : QStringLiteral("could not move it aside: ") + aside.error()));
}

void SeenAppsReporter::save()
{
    const Status written = writeFileAtomically(m_statePath, encode(m_reported));
    if (!written)
        Log::warn(QStringLiteral("reported apps save failed") + separator + written.error());
}

void SeenAppsReporter::note(const SeenApp &given)
{
    if (m_refused.contains(given.bundleId))
        return;
    // Names come from files anyone can write: a few huge ones must not make every request too big.
    SeenApp app = given;
    app.name.truncate(maxNameLength);
    if (app.category)
        app.category->truncate(maxCategoryLength);
    const auto known = m_reported.find(app.bundleId);
    if (known != m_reported.end() && known->second == signature(app))
        return;
    m_pending.try_emplace(app.bundleId, std::move(app));
}

void SeenAppsReporter::seedFromInstalledApps()
{
    const std::vector<SeenApp> installed = AppInventory::installedApps(m_catalog);
    for (const SeenApp &app : installed)
        note(app);
    Log::info(QStringLiteral("inventory seed") + separator +
              QStringLiteral("%1 app(s) found, %2 new to report").arg(installed.size()).arg(m_pending.size()));
}

QCoro::Task<void> SeenAppsReporter::flush(CancelToken cancel)
{
    // A backend that asked for a pause (Retry-After, a rate limit) gets it: the apps wait.
    if (m_pending.empty() || (m_notBefore && m_clock.monotonic() < *m_notBefore))
        co_return;
    m_notBefore.reset();
    std::deque<std::vector<SeenApp>> batches;
    for (const auto &[id, app] : m_pending) {
        if (batches.empty() || batches.back().size() >= maxBatch)
            batches.emplace_back();
        batches.back().push_back(app);
    }
    const std::shared_ptr<bool> alive = m_alive;
    const BackendClient client = m_client;
    std::size_t sent = 0;
    qint64 newToParent = 0;
    std::optional<QString> failure;
    while (!batches.empty()) {
        const std::vector<SeenApp> apps = std::move(batches.front());
        batches.pop_front();
        const BackendResult<qint64> result =
            co_await client.reportAppsSeen(m_identity.sessionToken, m_identity.deviceId, apps, cancel);
        if (!*alive || cancel.isCancelled())
            co_return;
        if (!result) {
            const ClientError &error = result.error();
            // Only these refuse what was sent rather than the sender or the moment (403, 404: the
            // device; 408, 409, 429: try later): halve the batch until the app at fault stands
            // alone, so that the others still arrive. Any other failure keeps everything waiting.
            const bool refusedContent = error.kind == ClientError::Kind::Status &&
                                        (error.code == 400 || error.code == 413 || error.code == 422);
            if (refusedContent && apps.size() > 1) {
                const auto half = apps.begin() + static_cast<std::ptrdiff_t>(apps.size() / 2);
                batches.emplace_front(half, apps.end());
                batches.emplace_front(apps.begin(), half);
                continue;
            }
            if (refusedContent) {
                const SeenApp &app = apps.front();
                Log::warn(QStringLiteral("app set aside") + separator + app.bundleId + separator +
                          QStringLiteral("refused by the backend") + separator + error.description());
                m_refused.insert(app.bundleId);
                m_pending.erase(app.bundleId);
                continue;
            }
            failure = error.description();
            if (error.retryAfterSeconds)
                m_notBefore = m_clock.monotonic() +
                              Millis(std::min<qint64>(*error.retryAfterSeconds, maxRetryAfter.count() / 1000) * 1000);
            Log::warn(QStringLiteral("apps-seen report failed") + separator + *failure);
            break;  // what is left waits for the next flush
        }
        for (const SeenApp &app : apps) {
            m_reported[app.bundleId] = signature(app);
            m_pending.erase(app.bundleId);
        }
        sent += apps.size();
        newToParent += result.value();
    }
    m_lastError = failure;
    if (!failure)
        m_failingSince.reset();
    else if (!m_failingSince)
        m_failingSince = m_clock.now();
    // As for one request: apps noted while the requests were out are noted again when next seen.
    if (!failure)
        m_pending.clear();
    if (sent == 0)
        co_return;
    m_totalReported = static_cast<qint64>(m_reported.size());
    save();
    Log::info(QStringLiteral("apps reported") + separator +
              QStringLiteral("%1 sent, %2 new to the parent").arg(sent).arg(newToParent));
}

}  // namespace fennimar
