#include "platform/macos/MacLoginService.h"

#include "platform/PlatformConstants.h"
#include "platform/macos/LoginServiceStatus.h"
#include "platform/macos/sdk/AppKitObjC.h"

namespace fennimar::macos {

namespace {

// The launch agent's property list, Contents/Library/LaunchAgents/app.fennimar.Agent.plist.
SMAppService *agentService()
{
    const QByteArray name = QByteArray(platform::AgentBundleID) + ".plist";
    return [SMAppService agentServiceWithPlistName:[NSString stringWithUTF8String:name.constData()]];
}

fennimar::Status outcome(BOOL ok, NSError *error)
{
    if (ok)
        return {};
    const QString reason = error ? QString::fromUtf8(error.localizedDescription.UTF8String) : QString();
    return fennimar::Status::failure(reason.isEmpty() ? QStringLiteral("the service manager gave no reason") : reason);
}

}  // namespace

LoginService::Status MacLoginService::status()
{
    @autoreleasepool {
        return loginStatusFromServiceManagement(static_cast<long>(agentService().status));
    }
}

fennimar::Status MacLoginService::registerService()
{
    @autoreleasepool {
        NSError *error = nil;
        const BOOL ok = [agentService() registerAndReturnError:&error];
        return outcome(ok, error);
    }
}

fennimar::Status MacLoginService::unregisterService()
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

}  // namespace fennimar::macos
