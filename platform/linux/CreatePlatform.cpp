#include "platform/Platform.h"

#include "platform/QtKeychainStore.h"
#include "platform/linux/DesktopEntryCatalog.h"
#include "platform/linux/LinuxDeviceFacts.h"
#include "platform/linux/LinuxLoginService.h"
#include "platform/LockFileInstance.h"
#include "platform/linux/ScreenLockMonitor.h"
#include "platform/linux/X11Desktop.h"
#include "platform/linux/atspi/AtspiAccessibility.h"

#include <QDBusConnection>

namespace fennimar {

Platform createPlatform(Clock &clock)
{
    Platform platform;
    auto catalog = std::make_unique<DesktopEntryCatalog>();
    auto lock = std::make_unique<ScreenLockMonitor>(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
    platform.desktop = std::make_unique<X11Desktop>(clock, *catalog, std::move(lock));
    platform.apps = std::move(catalog);
    platform.accessibility = AtspiAccessibility::forSession(clock);
    platform.device = std::make_unique<LinuxDeviceFacts>(QDBusConnection::systemBus());
    platform.login = std::make_unique<LinuxLoginService>(QDBusConnection::sessionBus());
    platform.secrets = std::make_unique<QtKeychainStore>();
    return platform;
}

std::unique_ptr<SingleInstance> createSingleInstance()
{
    return std::make_unique<LockFileInstance>();
}

}  // namespace fennimar
