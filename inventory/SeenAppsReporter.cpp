#include "inventory/SeenAppsReporter.h"

#include "agent/AgentConfig.h"
#include "agent/Log.h"
#include "inventory/AppInventory.h"
#include "platform/DurableFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <vector>

namespace fennimar {

namespace {

const QString separator = QStringLiteral(" \u00b7 ");

QString defaultStatePath()
{
    return QDir(AgentConfig::supportDirectory()).filePath(QLatin1String(SeenAppsReporter::stateFileName));
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

void SeenAppsReporter::note(const SeenApp &app)
{
    const auto known = m_reported.find(app.bundleId);
    if (known != m_reported.end() && known->second == signature(app))
        return;
    m_pending.try_emplace(app.bundleId, app);
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
    if (m_pending.empty())
        co_return;
    std::vector<SeenApp> apps;
    apps.reserve(m_pending.size());
    for (const auto &[id, app] : m_pending)
        apps.push_back(app);
    const std::shared_ptr<bool> alive = m_alive;
    const std::size_t sent = apps.size();
    const BackendClient client = m_client;
    const BackendResult<qint64> result =
        co_await client.reportAppsSeen(m_identity.sessionToken, m_identity.deviceId, apps, cancel);
    if (!*alive)
        co_return;
    if (!result) {
        if (cancel.isCancelled())
            co_return;
        m_lastError = result.error().description();
        Log::warn(QStringLiteral("apps-seen report failed") + separator + *m_lastError);
        co_return;
    }
    for (const SeenApp &app : apps)
        m_reported[app.bundleId] = signature(app);
    m_pending.clear();
    m_totalReported = static_cast<qint64>(m_reported.size());
    m_lastError.reset();
    save();
    Log::info(QStringLiteral("apps reported") + separator +
              QStringLiteral("%1 sent, %2 new to the parent").arg(sent).arg(result.value()));
}

}  // namespace fennimar
