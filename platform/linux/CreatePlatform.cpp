#include "platform/Platform.h"

#include "core/Log.h"
#include "platform/linux/session/QtKeychainStore.h"
#include "platform/linux/session/DBusControl.h"
#include "platform/linux/session/DBusNotifier.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/inhibit/WatchingDesktop.h"
#include "platform/linux/LinuxDeviceFacts.h"
#include "platform/linux/session/LinuxLoginService.h"
#include "platform/linux/session/ScreenLockMonitor.h"
#include "platform/linux/x11/X11Desktop.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/wayland/WaylandDesktop.h"

#include <QDBusConnection>
#include <QFile>
#include <QTimeZone>

#include <sys/prctl.h>

#include <cstdlib>
#include <ctime>

namespace fennimar {

void prepareProcess()
{
    // The kernel may delay each of our timed wake-ups by up to 50 ms (the default is 50 us) to
    // serve it together with another process's: the same 5% of the 1 s tick that the coarse timer
    // allows, and nothing the agent times needs finer. A kernel that refuses keeps its default.
    ::prctl(PR_SET_TIMERSLACK, 50'000'000UL, 0UL, 0UL, 0UL);
    // The ledger's day and hour are the computer's, which root sets in /etc/localtime. TZ in our
    // environment is the measured user's to set (a unit drop-in, environment.d, the autostart
    // entry): a start one zone further west each hour would pile the day into one capped bucket.
    // Before the first local time is asked for. Not evidence: ignored, it changes nothing counted.
    if (const QByteArray tz = qgetenv("TZ"); !tz.isNull()) {
        ::unsetenv("TZ");
        ::tzset();
        const QByteArray computer = QTimeZone::systemTimeZoneId();
        if (tz != computer && tz != ':' + computer && tz != ":/etc/localtime")
            Log::info(QStringLiteral("TZ=%1 in the environment is ignored · the computer's time zone is %2")
                          .arg(QString::fromUtf8(tz).left(64), QString::fromUtf8(computer)));
    }
}

namespace {

// Whether the agent runs in the computer's own user namespace. In one of its own (`unshare -Ur`, no
// root needed) whoever started it can mount their files over any root-owned one it reads: the time
// zone, the desktop entries, the programs the owner checks compare. A login never starts it there.
// An unreadable map says nothing either way, and is no evidence.
bool inOwnUserNamespace()
{
    QFile map(QStringLiteral("/proc/self/uid_map"));
    if (!map.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = map.read(256).simplified();
    return !line.isEmpty() && line != "0 0 4294967295";
}

// Hyprland's request socket, where Hyprland runs (0.40 and later keep it in the runtime directory).
QString hyprlandSocket()
{
    const QString instance = qEnvironmentVariable("HYPRLAND_INSTANCE_SIGNATURE");
    if (instance.isEmpty() || instance.contains(QLatin1Char('/')))
        return {};
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/hypr/") + instance +
           QStringLiteral("/.socket.sock");
}

}  // namespace

Platform createPlatform(Clock &clock)
{
    Platform platform;
    if (inOwnUserNamespace())
        platform.tamper->raise(QStringLiteral("user namespace"),
                               QStringLiteral("the agent runs in a user namespace of its own, where the files it "
                                              "reads may be ones the user mounted"));
    auto catalog = std::make_unique<DesktopEntryCatalog>();
    // The user's display session as logind knows it, not as the environment (the user's to set) says.
    auto lock = std::make_unique<ScreenLockMonitor>(QDBusConnection::systemBus(), QDBusConnection::sessionBus(),
                                                    QString(), platform.tamper);
    const std::optional<QString> sessionType = ScreenLockMonitor::sessionType(QDBusConnection::systemBus());
    // A Wayland session is read through the compositor; an X11 answer there would only ever see
    // Xwayland windows.
    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<X11RawInput> rawInput;
    // Chromium on Wayland never marks its focused frame ACTIVE on the accessibility bus, so the
    // compositor's title of the window in front tells which frame to read (Xwayland's active
    // window would name another one). The desktop outlives every read.
    std::function<QString()> frontTitle;
    WaylandDesktop *wayland = nullptr;  // owned by the watching desktop below
    if (sessionType ? *sessionType == QLatin1String("wayland") : WaylandDesktop::isWaylandSession()) {
        WaylandDesktop::Options options;
        options.tamper = platform.tamper;
        auto owned =
            std::make_unique<WaylandDesktop>(clock, *catalog, std::move(lock), QDBusConnection::sessionBus(), options);
        wayland = owned.get();
        frontTitle = [wayland] { return wayland->frontTitle(); };
        desktop = std::move(owned);
    } else {
        auto x11 = std::make_unique<X11Desktop>(clock, *catalog, std::move(lock), QByteArray(), platform.tamper);
        rawInput = std::make_unique<X11RawInput>(clock);
        // The watching desktop below owns both and is asked only while both live.
        x11->setRawInput([raw = rawInput.get()] { return raw->secondsSinceInput(); });
        desktop = std::move(x11);
    }
    auto watching = std::make_unique<WatchingDesktop>(
        clock, std::move(desktop), QDBusConnection::sessionBus(),
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fennimar-inhibit-monitor")),
        std::move(rawInput), hyprlandSocket());
    if (wayland)
        watching->setIdleInhibition([wayland] { return wayland->idleInhibition(); });
    watching->watchSystemResets(QDBusConnection::systemBus());
    // The page last read tells the watching desktop which of a browser's windows plays a film.
    auto pages = std::make_unique<PageMemory>(clock, AtspiAccessibility::forSession(clock, std::move(frontTitle)));
    watching->setFocusedPage(pages->lastRead());
    platform.desktop = std::move(watching);
    platform.apps = std::move(catalog);
    platform.accessibility = std::move(pages);
    platform.device = std::make_unique<LinuxDeviceFacts>(QDBusConnection::systemBus());
    platform.login = std::make_unique<LinuxLoginService>(QDBusConnection::sessionBus());
    platform.secrets = std::make_unique<QtKeychainStore>();
    return platform;
}

std::unique_ptr<Notifier> createNotifier()
{
    return std::make_unique<DBusNotifier>(QDBusConnection::sessionBus());
}

std::unique_ptr<ControlServer> createControlServer()
{
    return std::make_unique<DBusControlServer>(QDBusConnection::sessionBus());
}

std::unique_ptr<ControlClient> createControlClient()
{
    return std::make_unique<DBusControlClient>(QDBusConnection::sessionBus());
}

}  // namespace fennimar
