#include "services/LoginItem.h"

#include "services/AgentFiles.h"
#include "core/Log.h"

namespace fennimar {

QString LoginItem::bundleVersion(const QString &shortVersion, const QString &build)
{
    return (shortVersion.isEmpty() ? QStringLiteral("0.1.0-dev") : shortVersion) + QLatin1Char('+') +
           (build.isEmpty() ? QStringLiteral("0") : build);
}

LoginItem::Start LoginItem::startDecision(const Launch &launch)
{
    if (launch.isJob)
        return Start::Register;
    if (launch.headless || !(launch.installed || launch.optedIn))
        return Start::LeaveAlone;
    return launch.canHandOver ? Start::RegisterThenHandOver : Start::Register;
}

int LoginItem::exitStatus(End end, bool isJob, int usual)
{
    switch (end) {
        case End::AnotherRuns:
            return isJob ? 0 : 3;
        case End::HandedOver:
            return 0;
        case End::Ran:
            break;
    }
    return isJob ? 75 : usual;  // EX_TEMPFAIL
}

LoginItem::HandOver LoginItem::handOverStep(bool started, bool heldByAnotherCopy, Millis waited)
{
    if (started && heldByAnotherCopy)
        return HandOver::Leave;
    return started && waited < handOverLimit ? HandOver::Wait : HandOver::TakeBack;
}

LoginItem::LoginItem(LoginService &service, QString version, bool isJob)
    : m_service(service), m_version(std::move(version)), m_isJob(isJob)
{
}

bool LoginItem::ensureRegistered()
{
    const QString version = m_version;
    const LoginService::Registration status = m_service.status();
    const std::optional<QString> recorded = AgentFiles::setting(QString::fromLatin1(versionSettingKey));

    if (status == LoginService::Registration::RequiresApproval) {
        // Registering again would not help: only the user can turn the item on.
        Log::warn(QStringLiteral("login item needs approval in System Settings > General > Login Items"));
        return false;
    }
    if (status == LoginService::Registration::Enabled) {
        if (recorded && *recorded == version)
            return true;
        if (m_isJob) {
            AgentFiles::setSetting(QString::fromLatin1(versionSettingKey), version);
            Log::info(QStringLiteral("login item kept (version changed) · %1 · this copy is its job").arg(version));
            return true;
        }
        // Enabled for another build (or one we have no record of): the registration may point at
        // an old executable, so it is replaced.
        const Status unregistered = m_service.unregisterService();
        if (!unregistered)
            Log::warn(QStringLiteral("could not unregister before re-register · ") + unregistered.error());
        return performRegister(version, QStringLiteral("version changed"));
    }
    return performRegister(version, QStringLiteral("new"));
}

bool LoginItem::performRegister(const QString &version, const QString &reason)
{
    const Status registered = m_service.registerService();
    if (!registered) {
        Log::error(QStringLiteral("login item registration failed · ") + registered.error());
        return false;
    }
    AgentFiles::setSetting(QString::fromLatin1(versionSettingKey), version);
    Log::info(
        QStringLiteral("login item registered (%1) · %2 · starts at login, restarts if quit").arg(reason, version));
    return true;
}

LoginService::Registration LoginItem::status()
{
    return m_service.status();
}

void LoginItem::openLoginItemsSettings()
{
    m_service.openSettings();
}

}  // namespace fennimar
