#include "platform/Platform.h"

#include "platform/QtKeychainStore.h"
#include "platform/linux/DesktopEntryCatalog.h"
#include "platform/linux/LinuxDeviceFacts.h"
#include "platform/linux/LinuxLoginService.h"
#include "platform/linux/LockFileInstance.h"
#include "platform/linux/ScreenLockMonitor.h"
#include "platform/linux/X11Desktop.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/wayland/WaylandDesktop.h"

#include <QDBusConnection>

namespace fennimar {

Platform createPlatform(Clock &clock)
{
    Platform platform;
    auto catalog = std::make_unique<DesktopEntryCatalog>();
    auto lock = std::make_unique<ScreenLockMonitor>(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
    // A Wayland session is read through the compositor; an X11 answer there would only ever see
    // Xwayland windows.
    if (WaylandDesktop::isWaylandSession())
        platform.desktop = std::make_unique<WaylandDesktop>(clock, *catalog, std::move(lock),
                                                            QDBusConnection::sessionBus(), WaylandDesktop::Options{});
    else
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
