// The Wayland desktop against real headless compositors, run as an unprivileged user with their own
// runtime directory: sway (sway's IPC, wlr foreign-toplevel, KDE idle), weston (only the
// accessibility bus names the focused window), KWin (our script) and GNOME Shell (our extension). Skipped, naming what
// is missing, where one is not installed.
#include "core/DurableFile.h"
#include "core/RealClock.h"
#include "core/VirtualClock.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/wayland/GnomeExtension.h"
#include "platform/linux/wayland/WaylandDesktop.h"
#include "tests/platform/linux/HeadlessCompositor.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/QtPrinters.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QCoreApplication>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

#include <memory>

namespace fennimar {
namespace {

using test::HeadlessCompositor;
using test::waitUntil;

class WaylandCompositorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(m_data.filePath("applications"));
        for (const char *id : {"fen-one", "fen-two"}) {
            QFile entry(m_data.filePath(QStringLiteral("applications/%1.desktop").arg(id)));
            ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
            entry.write(QByteArray("[Desktop Entry]\nType=Application\nExec=foot\nName=") + id + "\n");
        }
        catalog = std::make_unique<DesktopEntryCatalog>(DesktopEntryCatalog::Options{{m_data.path()}, {}, {}});
    }
    std::unique_ptr<WaylandDesktop> desktopOn(const HeadlessCompositor &c, const QString &swaySocket)
    {
        WaylandDesktop::Options options{c.display, swaySocket, Millis{5000}};
        return std::make_unique<WaylandDesktop>(clock, *catalog, nullptr, QDBusConnection("fennimar-no-bus"), options);
    }

    QTemporaryDir m_data;
    RealClock clock;
    std::unique_ptr<DesktopEntryCatalog> catalog;
};

QString frontId(Desktop &desktop)
{
    const auto app = desktop.frontmostApp();
    return app ? app->identifier : QStringLiteral("-");
}

TEST_F(WaylandCompositorTest, SwayFrontAppAndIdle)
{
    HeadlessCompositor sway("sway", {"-c", "{config}"});
    if (!sway.skip.isEmpty())
        GTEST_SKIP() << "sway: " << sway.skip.toStdString();
    // The same session read through sway's IPC and, with its socket hidden, through foreign-toplevel.
    auto ipc = desktopOn(sway, sway.swaySocket);
    auto toplevel = desktopOn(sway, "/nonexistent/sway.sock");
    ASSERT_EQ(ipc->choice().front, FrontSource::SwayIpc);
    ASSERT_EQ(toplevel->choice().front, FrontSource::ForeignToplevel);
    EXPECT_EQ(ipc->choice().idle, IdleSource::KdeIdle);  // sway 1.7; ext-idle-notify from 1.8
    EXPECT_EQ(ipc->samplingProblem(), QString());

    const qint64 one = sway.start("foot", {"--app-id=fen-one", "sleep", "600"})->processId();
    ASSERT_TRUE(waitUntil([&] { return frontId(*ipc) == QLatin1String("fen-one"); }, 10000));
    const qint64 two = sway.start("foot", {"--app-id=fen-two", "sleep", "600"})->processId();
    // The command, then who is in front; no command: the newest window took focus.
    const std::tuple<const char *, const char *, qint64> steps[] = {{"", "fen-two", two},
                                                                    {"[app_id=fen-one] focus", "fen-one", one},
                                                                    {"workspace 9", "-", 0},
                                                                    {"workspace 1", "fen-one", one}};
    for (const auto &[command, front, pid] : steps) {
        SCOPED_TRACE(command);
        if (*command) {
            ASSERT_TRUE(sway.sway(command));
        }
        for (Desktop *desktop : {static_cast<Desktop *>(ipc.get()), static_cast<Desktop *>(toplevel.get())}) {
            EXPECT_TRUE(waitUntil([&] { return frontId(*desktop) == QLatin1String(front); }, 5000))
                << "got " << frontId(*desktop).toStdString();
        }
        EXPECT_EQ(ipc->frontmostApp().value_or(RunningApp{}).pid, pid);
    }

    // foreign-toplevel carries no pid: it comes from the processes connected to sway's socket whose
    // program the app_id names.
    const qint64 plain = sway.start("foot", {"sleep", "600"})->processId();
    EXPECT_TRUE(waitUntil([&] { return ipc->frontmostApp().value_or(RunningApp{}).pid == plain; }, 5000));
    qint64 peer = 0;
    EXPECT_TRUE(waitUntil([&] { return (peer = toplevel->frontmostApp().value_or(RunningApp{}).pid) != 0; }, 5000));
    EXPECT_TRUE(peer == one || peer == two || peer == plain) << peer;  // the lowest of the foot pids

    // Idle: the time since the last pointer motion, to within 100 ms, and 0 right after the next.
    ASSERT_TRUE(sway.sway("seat - cursor move 3 3"));
    QElapsedTimer sinceInput;
    sinceInput.start();
    ASSERT_TRUE(waitUntil([&] { return ipc->secondsSinceInput().value_or(0) > 0; }, 5000));
    QThread::msleep(500);
    EXPECT_NEAR(*ipc->secondsSinceInput(), static_cast<double>(sinceInput.elapsed()) / 1000.0, 0.1);
    ASSERT_TRUE(sway.sway("seat - cursor move 3 3"));
    EXPECT_TRUE(waitUntil([&] { return ipc->secondsSinceInput() == 0.0; }, 1000));

    // A compositor not there at start (busy at login) is looked for again 10 s later.
    QTemporaryDir late;
    VirtualClock virtualClock;
    WaylandDesktop waiting(virtualClock, *catalog, nullptr, QDBusConnection("fennimar-no-bus"),
                           {late.filePath("wl").toLocal8Bit(), "/nonexistent/sway.sock", Millis{5000}});
    ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(sway.display), late.filePath("wl")));
    for (const auto &[advance, front] : {std::pair{9000, FrontSource::None}, {1000, FrontSource::ForeignToplevel}}) {
        virtualClock.advance(Millis{advance});
        waiting.frontmostApp();
        EXPECT_EQ(waiting.choice().front, front) << advance;
    }

    // The agent's own stop is no loss of sway; sway quitting is, and the log says what comes next.
    test::LogCapture log;
    ipc.reset();
    EXPECT_FALSE(log.text().contains("lost sway's IPC socket")) << log.text().toStdString();
    auto last = desktopOn(sway, sway.swaySocket);
    sway.sway("exit");
    EXPECT_TRUE(waitUntil(
        [&] {
            last->frontmostApp();
            return log.text().contains(
                "lost sway's IPC socket (sway quit or restarted) · no app in front until sway "
                "answers again; the agent looks for it again");
        },
        10000))
        << log.text().toStdString();
}

// weston has no window list: the accessibility bus's active window names the app and its pid.
// weston runs on Xvfb because its headless backend has no keyboard and ACTIVE follows keyboard
// focus; the session bus is weston's user's, opened to this test's user too.
TEST_F(WaylandCompositorTest, WestonAccessibleAppInFront)
{
    if (const QStringList missing = test::missingTools({"Xvfb", "weston", "dbus-daemon", "gtk3-demo"});
        !missing.isEmpty())
        GTEST_SKIP() << "not installed: " << missing.join(", ").toStdString();
    HeadlessCompositor westonOnX(
        "sh", HeadlessCompositor::withBuses("weston --backend=x11-backend.so --use-pixman --socket=wl-test --no-config",
                                            true));
    if (!westonOnX.skip.isEmpty())
        GTEST_SKIP() << "weston: " << westonOnX.skip.toStdString();
    const QString address = westonOnX.sessionBus();
    QDBusConnection session = QDBusConnection::connectToBus(address, "fennimar-weston-session");
    ASSERT_TRUE(session.isConnected()) << session.lastError().message().toStdString();
    QDBusMessage enable =
        QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set");
    enable.setArguments({"org.a11y.Status", "IsEnabled", QVariant::fromValue(QDBusVariant(true))});
    ASSERT_EQ(session.call(enable, QDBus::Block, 5000).type(), QDBusMessage::ReplyMessage);
    westonOnX.extraEnv = {"DBUS_SESSION_BUS_ADDRESS=" + address};

    DesktopEntryCatalog installed({{"/usr/share"}, {}, {}});
    WaylandDesktop desktop(clock, installed, nullptr, session, {westonOnX.display, QString(), Millis{5000}});
    ASSERT_EQ(desktop.choice().front, FrontSource::AtspiActiveFrame);
    EXPECT_TRUE(desktop.choice().logLine().contains("the accessibility bus is the only source left"));
    const qint64 demo = westonOnX.start("gtk3-demo", {})->processId();
    EXPECT_TRUE(waitUntil([&] { return frontId(desktop) == QLatin1String("gtk3-demo"); }, 20000))
        << "got " << frontId(desktop).toStdString();
    EXPECT_EQ(desktop.frontmostApp().value_or(RunningApp{}).pid, demo);
    // weston offers no idle time either: nothing can count, and that comes first.
    EXPECT_EQ(desktop.samplingProblem().toStdString(),
              "weston does not tell the time since the last input (neither ext-idle-notify, KDE idle nor GNOME's idle "
              "monitor), so no second can be counted; only apps that support accessibility can be seen on weston (not "
              "terminals such as foot or xterm, games, "
              "Wine or Java apps)");
    // A terminal has no accessibility tree: while it is in front, nothing is.
    westonOnX.start("foot", {"sleep", "600"});
    EXPECT_TRUE(waitUntil([&] { return frontId(desktop) == QLatin1String("-"); }, 20000))
        << "got " << frontId(desktop).toStdString();

    // With GNOME's idle monitor (a stand-in here that always saw input half a second ago): the
    // sampler asks only once its own bound runs out, a minute after it last asked; the answer it
    // finds then is fresh, so no second of three minutes of typing is judged on an unknown idle time.
    struct TypingUser : QDBusVirtualObject {
        QString introspect(const QString &) const override { return {}; }
        bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
        {
            ++asked;
            return connection.send(message.createReply(QVariant::fromValue(quint64{500})));
        }
        int asked = 0;
    } typing;
    QDBusConnection mutter = QDBusConnection::connectToBus(address, "fennimar-weston-mutter");
    ASSERT_TRUE(mutter.registerService("org.gnome.Mutter.IdleMonitor") &&
                mutter.registerVirtualObject("/org/gnome/Mutter/IdleMonitor/Core", &typing));
    VirtualClock virtualClock;
    // A better source than the accessibility bus that comes later (sway's socket here) is found
    // when the sources are looked at again, 10 s later.
    QTemporaryDir late;
    WaylandDesktop gnomeIdle(virtualClock, installed, nullptr, session,
                             {westonOnX.display, late.filePath("sway.sock"), Millis{5000}});
    ASSERT_EQ(gnomeIdle.choice().idle, IdleSource::MutterIdleMonitor);
    ASSERT_EQ(gnomeIdle.choice().front, FrontSource::AtspiActiveFrame);
    QLocalServer swaySocket;
    ASSERT_TRUE(swaySocket.listen(late.filePath("sway.sock")));
    for (const auto &[advance, front] :
         {std::pair{9000, FrontSource::AtspiActiveFrame}, {1000, FrontSource::SwayIpc}}) {
        virtualClock.advance(Millis{advance});
        gnomeIdle.frontmostApp();
        EXPECT_EQ(gnomeIdle.choice().front, front) << advance;
    }
    for (int second = 1; second <= 180; ++second) {
        const int asked = typing.asked;
        virtualClock.advance(Millis{1000});
        waitUntil([&] { return typing.asked > asked; }, 50, 1);  // an answer, if asked, comes in a millisecond
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (second % 60 == 0) {
            const std::optional<double> idle = gnomeIdle.secondsSinceInput();
            EXPECT_TRUE(idle && *idle < 3) << "second " << second << ": " << idle.value_or(-1);
        }
    }
}

// KWin and GNOME Shell give a new window focus and hand it back when it closes: the app in front,
// with its pid, through our KWin script or GNOME Shell extension. focus: asked every half second
// where the compositor focuses no new window by itself (a headless GNOME Shell).
void followNewWindows(HeadlessCompositor &session, Desktop &desktop, const std::function<void(qint64)> &focus = {})
{
    const auto expectFront = [&](const char *id, qint64 pid) {
        EXPECT_TRUE(waitUntil(
            [&] {
                if (focus)
                    focus(pid);
                return frontId(desktop) == QLatin1String(id);
            },
            20000, 500))
            << id << ": got " << frontId(desktop).toStdString() << " · " << desktop.samplingProblem().toStdString();
        EXPECT_EQ(desktop.frontmostApp().value_or(RunningApp{}).pid, pid);
    };
    const qint64 demo = session.start("gtk3-demo", {})->processId();
    expectFront("gtk3-demo", demo);
    QProcess *factory = session.start("gtk3-widget-factory", {});
    expectFront("gtk3-widget-factory", factory->processId());
    factory->terminate();
    factory->waitForFinished(5000);
    expectFront("gtk3-demo", demo);
    EXPECT_EQ(desktop.samplingProblem(), QString());
}

// The compositor's private session bus, once name is on it.
QDBusConnection busWith(const HeadlessCompositor &session, const QString &name)
{
    QDBusConnection bus = QDBusConnection::connectToBus(session.sessionBus(), session.sessionBus());
    waitUntil([&] { return bus.isConnected() && bus.interface()->isServiceRegistered(name).value(); }, 10000);
    return bus;
}

// Whether GNOME Shell serves its objects within a minute: it owns its name before it does, and once
// in a while here a Shell then serves nothing for minutes, before any agent code runs.
bool shellAnswers(QDBusConnection &bus)
{
    QDBusMessage get =
        QDBusMessage::createMethodCall("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Get");
    get << QString("org.gnome.Shell") << QString("ShellVersion");
    return waitUntil([&] { return bus.call(get, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage; }, 60000,
                     200);
}

TEST_F(WaylandCompositorTest, KwinThroughOurScript)
{
    if (const QStringList missing = test::missingTools({"kwin_wayland", "dbus-daemon", "gtk3-demo"});
        !missing.isEmpty())
        GTEST_SKIP() << "not installed: " << missing.join(", ").toStdString();
    // A copy: the installed binary's file capability is refused in a container.
    HeadlessCompositor kwin("sh",
                            HeadlessCompositor::withBuses("cp /usr/bin/kwin_wayland . && ./kwin_wayland --virtual "
                                                          "--width 1280 --height 800 --socket wl-test"));
    if (!kwin.skip.isEmpty())
        GTEST_SKIP() << "KWin: " << kwin.skip.toStdString();
    QDBusConnection bus = busWith(kwin, "org.kde.KWin");
    kwin.extraEnv = {"DBUS_SESSION_BUS_ADDRESS=" + kwin.sessionBus()};
    DesktopEntryCatalog installed({{"/usr/share"}, {}, {}});
    WaylandDesktop desktop(clock, installed,
                           std::make_unique<ScreenLockMonitor>(QDBusConnection("fennimar-no-bus"), bus, "none"), bus,
                           {kwin.display, QString(), Millis{20000}});
    ASSERT_EQ(desktop.choice().front, FrontSource::KwinScript) << desktop.choice().logLine().toStdString();
    EXPECT_EQ(desktop.choice().idle, IdleSource::ExtIdleNotify);
    followNewWindows(kwin, desktop);
    // Only KWin is heard: anyone else on the bus could name any app.
    const QDBusMessage forged =
        bus.call(QDBusMessage::createMethodCall(bus.baseService(), "/app/fennimar/Agent/KWinFront",
                                                "app.fennimar.Agent.KWinFront", "Activated")
                 << "fen-one"
                 << ""
                 << ""
                 << "1");
    EXPECT_EQ(forged.errorName(), "org.freedesktop.DBus.Error.AccessDenied");
    EXPECT_EQ(frontId(desktop), "gtk3-demo");
    // A script of someone else's, loaded under the name ours once had, calls from KWin's own
    // connection: not believed, and the menu says why.
    QTemporaryDir foreignDir;
    QFile foreign(foreignDir.filePath("foreign.js"));
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly) &&
                foreign.write(QStringLiteral("callDBus('%1', '/app/fennimar/Agent/KWinFront', "
                                             "'app.fennimar.Agent.KWinFront', 'Activated', 'fen-one', '', '', '1');")
                                  .arg(bus.baseService())
                                  .toUtf8()) > 0 &&
                QFile::setPermissions(foreignDir.path(), QFile::permissions(foreignDir.path()) | QFile::ExeOther) &&
                foreign.setPermissions(foreign.permissions() | QFile::ReadOther));
    foreign.close();
    const auto scripting = [&](const QString &path, const QString &interface, const QString &method,
                               const QVariantList &args) {
        QDBusMessage call = QDBusMessage::createMethodCall("org.kde.KWin", path, interface, method);
        call.setArguments(args);
        return bus.call(call, QDBus::Block, 5000);
    };
    scripting("/Scripting", "org.kde.kwin.Scripting", "unloadScript", {"fennimar-agent-front"});
    const int id =
        scripting("/Scripting", "org.kde.kwin.Scripting", "loadScript", {foreign.fileName(), "fennimar-agent-front"})
            .arguments()
            .value(0, -1)
            .toInt();
    ASSERT_GE(id, 0);
    scripting(QStringLiteral("/%1").arg(id), "org.kde.kwin.Script", "run", {});
    EXPECT_TRUE(waitUntil(
        [&] { return desktop.samplingProblem().startsWith("a KWin script that is not this agent's reports windows"); },
        20000))
        << desktop.samplingProblem().toStdString();
    EXPECT_EQ(desktop.replacedSource(), desktop.samplingProblem());
    EXPECT_EQ(frontId(desktop), "gtk3-demo");
    // KWin goes on naming the last window while locked: the lock is what stops the counting.
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(0) >= 1; }, 5000));
    EXPECT_FALSE(desktop.screenLocked());
    bus.call(QDBusMessage::createMethodCall("org.freedesktop.ScreenSaver", "/ScreenSaver",
                                            "org.freedesktop.ScreenSaver", "Lock"));
    EXPECT_TRUE(waitUntil([&] { return desktop.screenLocked(); }, 5000));
}

// Whatever a user planted in the extension's folder before the agent starts: the install neither
// hangs, aborts nor writes through a link; a linked folder is refused with a reason.
TEST(GnomeExtensionInstall, PlantedFilesAreReplacedOrRefused)
{
    const QString ours = ":/fennimar/shell/fennimar-agent@fennimar.app/";
    const std::tuple<const char *, const char *, std::function<bool(const QString &, const QString &)>> cases[] = {
        // what is planted, the start of the install's answer ("": installed)
        {"a FIFO", "",
         [](const QString &dir, const QString &) {
             return ::mkfifo(QFile::encodeName(dir + "/extension.js"), 0600) == 0;
         }},
        {"a link to /dev/zero", "",
         [](const QString &dir, const QString &) { return QFile::link("/dev/zero", dir + "/extension.js"); }},
        {"a link to another file", "",
         [](const QString &dir, const QString &other) { return QFile::link(other + "/mine", dir + "/metadata.json"); }},
        {"a linked folder", "this agent could not install its GNOME Shell extension in ",
         [](const QString &dir, const QString &other) {
             return QDir(dir).removeRecursively() && QFile::link(other, dir);
         }},
        {"a folder in a file's place", "this agent could not install its GNOME Shell extension in ",
         [](const QString &dir, const QString &) { return QDir(dir).mkdir("extension.js"); }},
    };
    for (const auto &[name, answer, plant] : cases) {
        SCOPED_TRACE(name);
        QTemporaryDir home, other;
        const QString dir = home.filePath("gnome-shell/extensions/fennimar-agent@fennimar.app");
        QFile mine(other.filePath("mine"));
        ASSERT_TRUE(QDir().mkpath(dir) && mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
        mine.close();
        ASSERT_TRUE(plant(dir, other.path()));
        const QString installed = GnomeExtension::install(home.path(), 43);
        EXPECT_TRUE(*answer ? installed.startsWith(QLatin1String(answer)) : installed.isEmpty())
            << installed.toStdString();
        EXPECT_EQ(QDir(other.path()).entryList(QDir::Files), QStringList{"mine"});
        EXPECT_TRUE(mine.open(QIODevice::ReadOnly) && mine.readAll() == "mine");
        for (const char *file : {"metadata.json", "extension.js"}) {
            QFile shipped(ours + file);
            ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
            if (!*answer) {
                EXPECT_EQ(readSmallFile(dir + "/" + file, 1 << 20).bytes, shipped.readAll()) << file;
            }
        }
    }
}

TEST_F(WaylandCompositorTest, GnomeShellThroughOurExtension)
{
    // GNOME Shell 45 and later load only the ES-module form; no such Shell runs here.
    QTemporaryDir later;
    ASSERT_EQ(GnomeExtension::install(later.path(), 46), QString());
    QFile module(later.filePath("gnome-shell/extensions/fennimar-agent@fennimar.app/extension.js"));
    EXPECT_TRUE(module.open(QIODevice::ReadOnly) && module.readAll().contains("export default class FocusedWindow"));
    if (const QStringList missing = test::missingTools({"gnome-shell", "dbus-daemon", "gtk3-demo"}); !missing.isEmpty())
        GTEST_SKIP() << "not installed: " << missing.join(", ").toStdString();
    QTemporaryDir data;  // the user's data home, where the agent installs its extension
    ASSERT_TRUE(
        QFile::setPermissions(data.path(), QFile::permissions(data.path()) | QFile::ExeOther | QFile::ReadOther));
    const QStringList env{"XDG_DATA_HOME=" + data.path()};
    const QString shell =
        "gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x800 --wayland-display wl-test";
    DesktopEntryCatalog installed({{"/usr/share"}, {}, {}});
    WaylandDesktop::Options options{{}, QString(), Millis{20000}, Millis{1000}, data.path()};
    // Before this login the child changed the extension's code: the Shell loads that, and the
    // agent's rewrite at start takes effect only at the next login. Until then it is not believed.
    ASSERT_EQ(GnomeExtension::install(data.path(), 43), QString());
    const QString folder = data.filePath(QStringLiteral("gnome-shell/extensions/%1/").arg(GnomeExtension::uuid));
    QFile changed(folder + "extension.js");
    ASSERT_TRUE(changed.open(QIODevice::Append) && changed.write("// the child's version\n") > 0);
    changed.close();
    const auto readableByTheShell = [&] {  // the agent's files are its user's alone; here the Shell runs as another
        for (const char *file : {"metadata.json", "extension.js"})
            ASSERT_TRUE(QFile::setPermissions(folder + file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    };
    readableByTheShell();
    {
        HeadlessCompositor first("sh", HeadlessCompositor::withBuses(shell), env);
        if (!first.skip.isEmpty())
            GTEST_SKIP() << "GNOME Shell: " << first.skip.toStdString();
        options.display = first.display;
        QDBusConnection firstBus = busWith(first, "org.gnome.Shell");
        if (!shellAnswers(firstBus))
            GTEST_SKIP() << "GNOME Shell owns its name but did not answer within 60 s: a start stuck outside the agent";
        // The Shell enables the extensions of the last session as it starts, before the agent does.
        const QDBusMessage enabled =
            firstBus.call(QDBusMessage::createMethodCall("org.gnome.Shell", "/org/gnome/Shell",
                                                         "org.gnome.Shell.Extensions", "EnableExtension")
                              << QString(GnomeExtension::uuid),
                          QDBus::Block, 20000);
        ASSERT_TRUE(enabled.arguments().value(0).toBool()) << enabled.errorMessage().toStdString();
        WaylandDesktop desktop(clock, installed, nullptr, firstBus, options);
        EXPECT_TRUE(waitUntil(
            [&] {
                desktop.frontmostApp();
                return desktop.samplingProblem().startsWith(
                    "the GNOME Shell extension running in this session is not this agent's own (it reports version 2 "
                    "and other code)");
            },
            20000))
            << desktop.samplingProblem().toStdString();
    }
    // The next login, with a test extension that focuses a window: the Shell focuses none by itself here.
    const QString focusJs = R"(const { Gio } = imports.gi;
let d;
function init() { return { enable() {
    d = Gio.DBusExportedObject.wrapJSObject('<node><interface name="test.Focus"><method name="Focus"><arg type="x"/></method></interface></node>',
        { Focus: pid => global.get_window_actors().map(a => a.meta_window).filter(w => w.get_pid() === pid)
                              .forEach(w => w.activate(global.get_current_time())) });
    d.export(Gio.DBus.session, '/test/Focus'); }, disable() { d.unexport(); } }; })";
    readableByTheShell();
    QDir(data.path()).mkpath("gnome-shell/extensions/focus@test");
    for (const auto &[name, text] :
         {std::pair{
              "metadata.json",
              QString(R"({"uuid": "focus@test", "name": "focus", "description": "test", "shell-version": ["43"]})")},
          std::pair{"extension.js", focusJs}}) {
        QFile file(data.filePath(QStringLiteral("gnome-shell/extensions/focus@test/") + name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0);
    }
    HeadlessCompositor next("sh", HeadlessCompositor::withBuses(shell), env);
    ASSERT_EQ(next.skip, QString());
    options.display = next.display;
    QDBusConnection bus = busWith(next, "org.gnome.Shell");
    if (!shellAnswers(bus))
        GTEST_SKIP() << "GNOME Shell owns its name but did not answer within 60 s: a start stuck outside the agent";
    next.extraEnv << "DBUS_SESSION_BUS_ADDRESS=" + next.sessionBus();
    VirtualClock minutes;  // the once-a-minute turning on again
    WaylandDesktop desktop(minutes, installed, nullptr, bus, options);
    ASSERT_EQ(desktop.choice().front, FrontSource::GnomeExtension) << desktop.choice().logLine().toStdString();
    EXPECT_EQ(desktop.choice().idle, IdleSource::MutterIdleMonitor);
    bus.call(QDBusMessage::createMethodCall("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                                            "EnableExtension")
             << "focus@test");
    followNewWindows(next, desktop, [&](qint64 pid) {
        bus.call(QDBusMessage::createMethodCall("org.gnome.Shell", "/test/Focus", "test.Focus", "Focus") << pid,
                 QDBus::Block, 2000);
    });
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(0) > 0; }, 20000));
    // Turned off by someone in the session: turned on again, and the window asked for again.
    const auto extensions = [&](const char *method) {
        return bus.call(
            QDBusMessage::createMethodCall("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions", method)
            << QString(GnomeExtension::uuid));
    };
    const auto turnedOnAgain = [&] {
        const QDBusMessage info = extensions("GetExtensionInfo");
        return qdbus_cast<QVariantMap>(info.arguments().value(0)).value("state").toInt() == 1 &&
               frontId(desktop) == QLatin1String("gtk3-demo");
    };
    extensions("DisableExtension");
    EXPECT_TRUE(waitUntil(turnedOnAgain, 20000));
    // Turned off again within the minute: nothing in front until the minute has passed, then on again.
    extensions("DisableExtension");
    EXPECT_TRUE(waitUntil([&] { return frontId(desktop) == QLatin1String("-"); }, 20000));
    EXPECT_EQ(desktop.samplingProblem(), "the agent's GNOME Shell extension is turned off");
    minutes.advance(Millis{60000});
    EXPECT_TRUE(waitUntil(turnedOnAgain, 20000));
}

}  // namespace
}  // namespace fennimar
