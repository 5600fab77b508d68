#include "platform/macos/MacLoginService.h"

#include "platform/PlatformTraits.h"
#include "platform/macos/LoginServiceStatus.h"
#include "platform/macos/sdk/AppKitObjC.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <unistd.h>

namespace fennimar::macos {

namespace {

// The launch agent's property list, Contents/Library/LaunchAgents/app.fennimar.Agent.plist.
SMAppService *agentService()
{
    const QByteArray name = QByteArray(platform::AgentBundleID) + ".plist";
    return [SMAppService agentServiceWithPlistName:[NSString stringWithUTF8String:name.constData()]];
}

Status outcome(BOOL ok, NSError *error)
{
    if (ok)
        return {};
    const QString reason = error ? QString::fromUtf8(error.localizedDescription.UTF8String) : QString();
    return Status::failure(reason.isEmpty() ? QStringLiteral("the service manager gave no reason") : reason);
}

}  // namespace

LoginService::Registration MacLoginService::status()
{
    @autoreleasepool {
        return loginStatusFromServiceManagement(static_cast<long>(agentService().status));
    }
}

Status MacLoginService::registerService()
{
    @autoreleasepool {
        NSError *error = nil;
        const BOOL ok = [agentService() registerAndReturnError:&error];
        return outcome(ok, error);
    }
}

Status MacLoginService::unregisterService()
{
    @autoreleasepool {
        NSError *error = nil;
        const BOOL ok = [agentService() unregisterAndReturnError:&error];
        return outcome(ok, error);
    }
}

void MacLoginService::openSettings()
{
    [SMAppService openSystemSettingsLoginItems];
}

bool MacLoginService::runsInstalled()
{
    return installedBundle(QDir::cleanPath(QCoreApplication::applicationDirPath()));
}

Status MacLoginService::startRegistered()
{
    // Without -k: a job that already runs is not restarted.
    const QString job = QStringLiteral("gui/%1/%2").arg(::getuid()).arg(QLatin1String(platform::AgentBundleID));
    QProcess launchctl;
    launchctl.start(QStringLiteral("/bin/launchctl"), {QStringLiteral("kickstart"), job});
    if (!launchctl.waitForFinished(5000)) {
        launchctl.kill();
        launchctl.waitForFinished(1000);
        return Status::failure(QStringLiteral("launchctl kickstart %1 did not answer within 5 s").arg(job));
    }
    if (launchctl.exitStatus() != QProcess::NormalExit || launchctl.exitCode() != 0)
        return Status::failure(QStringLiteral("launchctl kickstart %1 failed (%2) · %3")
                                   .arg(job)
                                   .arg(launchctl.exitCode())
                                   .arg(QString::fromLocal8Bit(launchctl.readAllStandardError()).trimmed()));
    return {};
}

}  // namespace fennimar::macos
