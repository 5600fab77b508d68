#include "platform/Platform.h"

#include "platform/LockFileInstance.h"
#include "platform/macos/BundleCatalog.h"
#include "platform/macos/FrontmostApp.h"
#include "platform/macos/MacAccessibility.h"
#include "platform/macos/MacDesktop.h"
#include "platform/macos/MacDeviceFacts.h"
#include "platform/macos/MacKeychainStore.h"
#include "platform/macos/MacLoginService.h"

#include <QDesktopServices>

namespace fennimar {

Platform createPlatform(Clock &clock)
{
    Platform platform;
    platform.apps = std::make_unique<macos::BundleCatalog>();
    platform.desktop = std::make_unique<macos::MacDesktop>(&macos::frontmostApplication);
    platform.accessibility = std::make_unique<macos::MacAccessibility>(
        clock, [](const QUrl &url) { return QDesktopServices::openUrl(url); });
    platform.device = std::make_unique<macos::MacDeviceFacts>();
    platform.login = std::make_unique<macos::MacLoginService>();
    platform.secrets = std::make_unique<macos::MacKeychainStore>();
    return platform;
}

std::unique_ptr<SingleInstance> createSingleInstance()
{
    return std::make_unique<LockFileInstance>();
}

}  // namespace fennimar
