// Cost of the Wayland facts the sampler reads every second (app in front, idle time, lock) on a
// headless sway, through sway's IPC and through wlr foreign-toplevel; on KWin through our script and
// on GNOME Shell through our extension; on weston, which offers none of these, and there through the
// accessibility bus. Also how soon a focus change is seen.
#include "bench/BenchStats.h"
#include "core/RealClock.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/atspi/AtspiActiveFrame.h"
#include "platform/linux/wayland/GnomeExtension.h"
#include "platform/linux/wayland/SocketPeers.h"
#include "platform/linux/wayland/WaylandDesktop.h"
#include "tests/platform/linux/HeadlessCompositor.h"
#include "tests/platform/linux/LinuxTestSupport.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

using namespace fennimar;

namespace {

// pumpMs: the event loop runs that long between ticks (untimed), so that an answer asked for on one
// tick (Mutter's idle time) arrives before the next, as it does a second apart.
void benchTicks(const char *name, WaylandDesktop &desktop, bool expectFront, int pumpMs = 0)
{
    const int kTicks = pumpMs ? 2000 : 20000;
    std::vector<double> micros;
    micros.reserve(kTicks);
    QElapsedTimer timer;
    int wrong = 0;
    for (int i = 0; i < kTicks; ++i) {
        if (pumpMs)
            test::waitUntil([] { return false; }, pumpMs, 1);
        timer.start();
        const auto app = desktop.frontmostApp();
        desktop.secondsSinceInput();
        desktop.screenLocked();
        micros.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
        wrong += app.has_value() != expectFront;
    }
    const bench::Samples s(std::move(micros));
    std::printf("wayland tick, %s (frontmost + idle + lock), %d ticks: median %.1f us, p99 %.1f us, max %.1f us%s\n",
                name, kTicks, s.at(0.5), s.at(0.99), s.max(), wrong ? " (unexpected answers)" : "");
}

// Milliseconds from a focus command until the desktop names the new app, over rounds switches.
void benchSwitch(const char *name, test::HeadlessCompositor &sway, WaylandDesktop &desktop)
{
    std::vector<double> millis;
    for (int i = 0; i < 20; ++i) {
        const QString target = i % 2 ? QStringLiteral("bench-one") : QStringLiteral("bench-two");
        QElapsedTimer timer;
        timer.start();
        sway.sway(QStringLiteral("[app_id=%1] focus").arg(target));
        const bool seen = test::waitUntil(
            [&] {
                const auto app = desktop.frontmostApp();
                return app && app->displayName == target;
            },
            3000);
        if (seen)
            millis.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    if (millis.empty()) {
        std::printf("wayland switch, %s: never seen\n", name);
        return;
    }
    const bench::Samples s(std::move(millis));
    std::printf("wayland switch, %s (swaymsg included): median %.1f ms, max %.1f ms\n", name, s.at(0.5), s.max());
}

// The lookup of a foreign-toplevel window's pid among the socket's peers (on a window change).
void benchPeers(test::HeadlessCompositor &sway)
{
    std::vector<double> millis;
    size_t peers = 0;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto found = SocketPeers::connectedTo(QString::fromLocal8Bit(sway.display), QStringLiteral("foot"));
        SocketPeers::pidFor(QStringLiteral("foot"), found);
        millis.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        peers = found.size();
    }
    const bench::Samples s(std::move(millis));
    std::printf("socket peers (sock_diag + /proc/*/fd), %zu peers, %lld processes: median %.2f ms, max %.2f ms\n",
                peers, static_cast<long long>(QDir(QStringLiteral("/proc")).entryList(QDir::Dirs).size()), s.at(0.5),
                s.max());
}

// weston with a keyboard and the accessibility bus: the tick from memory, and what a poll costs.
void benchAccessibilityBus(RealClock &clock, DesktopEntryCatalog &catalog)
{
    test::HeadlessCompositor weston(
        QStringLiteral("sh"),
        test::HeadlessCompositor::withBuses(
            QStringLiteral("weston --backend=x11-backend.so --use-pixman --socket=wl-test --no-config"), true));
    if (!weston.skip.isEmpty() ||
        !test::missingTools({QStringLiteral("gtk3-demo"), QStringLiteral("Xvfb")}).isEmpty()) {
        std::printf("wayland tick, AT-SPI: skipped (weston on Xvfb or gtk3-demo missing)\n");
        return;
    }
    QDBusConnection session = QDBusConnection::connectToBus(weston.sessionBus(), QStringLiteral("bench-session"));
    QDBusMessage enable =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    enable.setArguments(
        {QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true))});
    session.call(enable, QDBus::Block, 5000);
    weston.extraEnv = {QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + weston.sessionBus(),
                       QStringLiteral("GDK_BACKEND=wayland")};
    for (int i = 0; i < 3; ++i)
        weston.start(QStringLiteral("gtk3-demo"), {});
    WaylandDesktop desktop(clock, catalog, nullptr, session, {weston.display, QString()});
    if (!test::waitUntil([&] { return desktop.frontmostApp().has_value(); }, 20000)) {
        std::printf("wayland tick, AT-SPI: gtk3-demo never seen in front\n");
        return;
    }
    benchTicks("weston, AT-SPI active window", desktop, true);
    atspi::AtspiActiveFrame frame(clock, session, {});
    std::vector<double> millis;
    int requests = 0;
    for (int i = 0; i < 200; ++i) {
        test::waitUntil([&] { return !frame.polling(); }, 3000, 1);
        QElapsedTimer timer;
        timer.start();
        frame.refresh();
        while (frame.polling() && timer.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        millis.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        requests = frame.lastPollRequests();
    }
    const bench::Samples s(std::move(millis));
    std::printf(
        "AT-SPI poll, 3 gtk3-demo (asynchronous, on the event loop): median %.2f ms, p90 %.2f ms, max %.2f ms, "
        "%d requests\n",
        s.at(0.5), s.at(0.9), s.max(), requests);
}

// KWin through our script, GNOME Shell through our extension (installed before the Shell starts,
// as at a login after the agent installed it): the tick from memory with gtk3-demo in front.
void benchShell(RealClock &clock, DesktopEntryCatalog &catalog, const QString &name, const QString &command,
                const QString &busName)
{
    QTemporaryDir data;
    QFile::setPermissions(data.path(), QFile::permissions(data.path()) | QFile::ExeOther | QFile::ReadOther);
    GnomeExtension::install(data.path());
    test::HeadlessCompositor shell(QStringLiteral("sh"), test::HeadlessCompositor::withBuses(command),
                                   {QStringLiteral("XDG_DATA_HOME=") + data.path()});
    if (!shell.skip.isEmpty() || !test::missingTools({QStringLiteral("gtk3-demo")}).isEmpty()) {
        std::printf("wayland tick, %s: skipped (%s)\n", qPrintable(name), qPrintable(shell.skip));
        return;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(shell.sessionBus(), QStringLiteral("bench-") + name);
    test::waitUntil([&] { return bus.interface()->isServiceRegistered(busName).value(); }, 10000);
    shell.extraEnv << QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + shell.sessionBus();
    shell.start(QStringLiteral("gtk3-demo"), {});
    WaylandDesktop desktop(clock, catalog, nullptr, bus,
                           {shell.display, QString(), Millis{5000}, Millis{1000}, data.path()});
    // A headless GNOME Shell may focus no window by itself; a tick costs the same either way, since
    // an app is looked up only when the window in front changes.
    const bool front = test::waitUntil([&] { return desktop.frontmostApp().has_value(); }, 5000);
    benchTicks(qPrintable(name + QStringLiteral(", ") + frontSourceName(desktop.choice().front) +
                          (front ? QString() : QStringLiteral(", nothing in front"))),
               desktop, front, 2);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    RealClock clock;
    DesktopEntryCatalog catalog({{QStringLiteral("/nonexistent")}, {}, {}});
    const QDBusConnection noBus(QStringLiteral("fennimar-no-bus"));
    {
        test::HeadlessCompositor sway(QStringLiteral("sway"), {QStringLiteral("-c"), QStringLiteral("{config}")});
        if (!sway.skip.isEmpty()) {
            std::printf("wayland tick, sway: skipped (%s)\n", qPrintable(sway.skip));
        } else {
            WaylandDesktop ipc(clock, catalog, nullptr, noBus, {sway.display, sway.swaySocket});
            WaylandDesktop toplevel(clock, catalog, nullptr, noBus, {sway.display, QStringLiteral("/nonexistent")});
            for (const char *id : {"bench-one", "bench-two"})
                sway.start(QStringLiteral("foot"), {QStringLiteral("--app-id=%1").arg(QLatin1String(id)),
                                                    QStringLiteral("sleep"), QStringLiteral("600")});
            test::waitUntil([&] { return ipc.frontmostApp() && toplevel.frontmostApp(); }, 10000);
            benchTicks("sway IPC", ipc, true);
            benchTicks("wlr foreign-toplevel", toplevel, true);
            benchPeers(sway);
            benchSwitch("sway IPC", sway, ipc);
            benchSwitch("wlr foreign-toplevel", sway, toplevel);
        }
    }
    if (!test::missingTools({QStringLiteral("kwin_wayland")}).isEmpty())
        std::printf("wayland tick, KWin: skipped (kwin_wayland not installed)\n");
    else
        benchShell(clock, catalog, QStringLiteral("KWin"),
                   QStringLiteral("cp /usr/bin/kwin_wayland . && ./kwin_wayland --virtual --no-lockscreen --width 1280 "
                                  "--height 800 --socket wl-bench"),
                   QStringLiteral("org.kde.KWin"));
    benchShell(clock, catalog, QStringLiteral("GNOME"),
               QStringLiteral("gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x800 --wayland-display "
                              "wl-bench"),
               QStringLiteral("org.gnome.Shell"));
    test::HeadlessCompositor weston(
        QStringLiteral("weston"), {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=wl-bench"),
                                   QStringLiteral("--no-config")});
    if (!weston.skip.isEmpty()) {
        std::printf("wayland tick, weston: skipped (%s)\n", qPrintable(weston.skip));
        return 0;
    }
    WaylandDesktop none(clock, catalog, nullptr, noBus, {weston.display, QString()});
    benchTicks("weston, nothing offered", none, false);
    benchAccessibilityBus(clock, catalog);
    return 0;
}
