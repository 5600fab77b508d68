// The Wayland desktop against real headless compositors, run as an unprivileged user with their own
// runtime directory: sway (sway's IPC, wlr foreign-toplevel, KDE idle), weston (only the
// accessibility bus names the focused window), KWin (our script) and GNOME Shell (our extension). Skipped, naming what
// is missing, where one is not installed.
#include "core/DurableFile.h"
#include "core/RealClock.h"
#include "core/VirtualClock.h"
#include "platform/linux/ProgramFile.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/wayland/GnomeExtension.h"
#include "platform/linux/wayland/ShellCalls.h"
#include "platform/linux/wayland/WaylandDesktop.h"
#include "tests/platform/linux/HeadlessCompositor.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/QtPrinters.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QCoreApplication>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
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
    EXPECT_EQ(ipc->samplingProblem(), QString());

    const qint64 one = sway.start("foot", {"--app-id=fen-one", "--title=one", "sleep", "600"})->processId();
    ASSERT_TRUE(waitUntil([&] { return frontId(*ipc) == QLatin1String("fen-one"); }, 10000));
    const qint64 two = sway.start("foot", {"--app-id=fen-two", "--title=two", "sleep", "600"})->processId();
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
        EXPECT_EQ(ipc->frontTitle() + toplevel->frontTitle(), QString::fromLatin1(front).mid(4).repeated(2));
    }

    // An idle inhibitor in effect on the focused window (here the user's rule; a player's
    // zwp_idle_inhibitor reads the same in the tree) makes its app watching, and no other.
    ASSERT_TRUE(sway.sway("[app_id=fen-one] inhibit_idle open"));
    EXPECT_TRUE(waitUntil([&] { return ipc->frontAppWatching(RunningApp{"fen-one", one, {}, {}}); }, 5000));
    EXPECT_FALSE(ipc->frontAppWatching(RunningApp{"fen-two", two, {}, {}}));
    ASSERT_TRUE(sway.sway("[app_id=fen-one] inhibit_idle none"));
    EXPECT_TRUE(waitUntil([&] { return !ipc->frontAppWatching(RunningApp{"fen-one", one, {}, {}}); }, 5000));
    ASSERT_TRUE(sway.sway("[app_id=fen-two] inhibit_idle open"));  // any window's keeps sway's idle quiet
    EXPECT_TRUE(waitUntil([&] { return ipc->idleInhibition() == std::optional(true); }, 5000));
    ASSERT_TRUE(sway.sway("[app_id=fen-two] inhibit_idle none"));

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

    // The agent's own stop is no loss of sway; sway quitting is, and the log says what comes next.
    test::LogCapture log;
    ipc.reset();
    auto last = desktopOn(sway, sway.swaySocket);
    sway.sway("exit");
    const QString lost = "(sway quit or restarted) · no app in front until sway answers again; the agent looks for it";
    EXPECT_TRUE(waitUntil([&] { return last->frontmostApp(), log.text().contains(lost); }, 10000));
    EXPECT_EQ(log.text().count("lost sway's IPC socket"), 1) << log.text().toStdString();
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
    const qint64 demo = westonOnX.start("gtk3-demo", {})->processId();
    EXPECT_TRUE(waitUntil([&] { return frontId(desktop) == QLatin1String("gtk3-demo"); }, 20000))
        << "got " << frontId(desktop).toStdString();
    EXPECT_EQ(desktop.frontmostApp().value_or(RunningApp{}).pid, demo);
    // weston offers no idle time either: nothing can count, and that comes first.
    EXPECT_EQ(desktop.samplingProblem().toStdString(),
              "weston does not tell the time since the last input (neither ext-idle-notify, KDE idle nor GNOME's idle "
              "monitor), so no second can be counted; only apps that support accessibility can be seen on weston (not "
              "terminals such as foot or xterm, games, Wine or Java apps)");
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
    // A compositor not there at start (busy at login) is looked for again 10 s later, and a better
    // source than the accessibility bus (sway's socket, here) again 20 s after that.
    VirtualClock virtualClock;
    QTemporaryDir late;
    WaylandDesktop gnomeIdle(virtualClock, installed, nullptr, session,
                             {late.filePath("wl").toLocal8Bit(), late.filePath("sway.sock"), Millis{5000}});
    ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(westonOnX.display), late.filePath("wl")));
    QLocalServer swaySocket;
    for (const auto &[advance, front] : {std::pair{9000, FrontSource::None},
                                         {1000, FrontSource::AtspiActiveFrame},
                                         {19000, FrontSource::AtspiActiveFrame},
                                         {1000, FrontSource::SwayIpc}}) {
        virtualClock.advance(Millis{advance});
        gnomeIdle.frontmostApp();
        EXPECT_EQ(gnomeIdle.choice().front, front) << advance;
        ASSERT_TRUE(front != FrontSource::AtspiActiveFrame || swaySocket.isListening() ||
                    swaySocket.listen(late.filePath("sway.sock")));
    }
    for (int second = 1; second <= 180; ++second) {
        const int asked = typing.asked;
        virtualClock.advance(Millis{1000});
        // Asked as the sampler asks while the user types, once its bound of a minute runs out, and before
        // an answer to this tick can arrive: the one it finds was asked earlier, unbidden.
        EXPECT_TRUE(second % 60 != 0 || gnomeIdle.secondsSinceInput().value_or(60) < 3) << "second " << second;
        waitUntil([&] { return typing.asked > asked; }, 50, 1);  // an answer, if asked, comes in a millisecond
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// KWin and GNOME Shell give a new window focus and hand it back when it closes: the app in front,
// its pid and title, through our KWin script or GNOME Shell extension. focus: asked every half
// second where the compositor focuses no new window by itself (a headless GNOME Shell).
void followNewWindows(HeadlessCompositor &session, WaylandDesktop &desktop,
                      const std::function<void(qint64)> &focus = {})
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
        EXPECT_NE(desktop.frontTitle(), QString()) << id;
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
    // The copy of KWin is not the installed file a real session runs: believe its screen lock.
    const auto kwinCopy = [](qint64 pid) { return ProgramFile::linkOf(pid).endsWith("/kwin_wayland"); };
    const auto tamper = std::make_shared<TamperEvidence>();
    WaylandDesktop desktop(
        clock, installed,
        std::make_unique<ScreenLockMonitor>(QDBusConnection("fennimar-no-bus"), bus, "none", nullptr, kwinCopy), bus,
        {kwin.display, QString(), Millis{20000}, Millis{1000}, QString(), tamper});
    ASSERT_EQ(desktop.choice().front, FrontSource::KwinScript) << desktop.choice().logLine().toStdString();
    EXPECT_EQ(desktop.choice().idle, IdleSource::ExtIdleNotify);
    followNewWindows(kwin, desktop);
    // Only KWin is heard: anyone else on the bus could name any app.
    EXPECT_EQ(callShell(bus, bus.baseService(), "/app/fennimar/Agent/KWinFront", "app.fennimar.Agent.KWinFront",
                        "Activated", {"fen-one", "", "", "1"}, Millis{5000})
                  .errorName(),
              "org.freedesktop.DBus.Error.AccessDenied");
    EXPECT_EQ(frontId(desktop), "gtk3-demo");
    // A script of someone else's, loaded under the name ours once had, calls from KWin's own
    // connection: not believed, and the menu says why.
    QFile foreign(QFileInfo(QString::fromLocal8Bit(kwin.display)).dir().filePath("foreign.js"));
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly) &&
                foreign.write("callDBus('" + bus.baseService().toUtf8() +
                              "', '/app/fennimar/Agent/KWinFront', 'app.fennimar.Agent.KWinFront', 'Activated', "
                              "'fen-one', '', '', '1');") > 0);
    foreign.close();
    callShell(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "loadScript",
              {foreign.fileName(), "fennimar-agent-front"}, Millis{5000});
    callShell(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "start", {}, Millis{5000});
    EXPECT_TRUE(waitUntil([&] { return !desktop.replacedSource().isEmpty(); }, 20000));
    EXPECT_TRUE(desktop.samplingProblem().startsWith("a KWin script that is not this agent's reports windows"));
    EXPECT_EQ(desktop.replacedSource(), desktop.samplingProblem());
    EXPECT_EQ(tamper->standing(), desktop.replacedSource());  // the heartbeat says it too
    EXPECT_EQ(frontId(desktop), "gtk3-demo");
    // KWin goes on naming the last window while locked: the lock is what stops the counting.
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(0) >= 1; }, 5000));
    EXPECT_FALSE(desktop.screenLocked());
    bus.call(QDBusMessage::createMethodCall("org.freedesktop.ScreenSaver", "/ScreenSaver",
                                            "org.freedesktop.ScreenSaver", "Lock"));
    EXPECT_TRUE(waitUntil([&] { return desktop.screenLocked(); }, 5000));
}

// Whatever stands in the extension's folder when the agent starts: the install neither hangs,
// aborts nor writes through a link; a linked folder is refused with a reason.
TEST(GnomeExtensionInstall, PlantedFilesAreReplacedOrRefused)
{
    // Planted in the extension's folder ("-": as the folder itself): 'p' a FIFO, 'd' a folder, 'l'
    // a link to the target ("~": another file or folder of the user's); the last word: whether it installs.
    const QStringList cases = {"extension.js p - yes", "extension.js l /dev/zero yes", "metadata.json l ~/mine yes",
                               "extension.js d - no", "- l ~ no"};
    for (const QString &row : cases) {
        const auto [name, kind, target, works] =
            std::tuple{row.section(' ', 0, 0), row.section(' ', 1, 1)[0], row.section(' ', 2, 2), row.endsWith("yes")};
        SCOPED_TRACE(row.toStdString());
        QTemporaryDir home, other;
        const QString dir = home.filePath("gnome-shell/extensions/fennimar-agent@fennimar.app"),
                      at = name == "-" ? dir : dir + "/" + name;
        ASSERT_TRUE(QDir().mkpath(dir) && writeFileAtomically(other.filePath("mine"), "mine"));
        ASSERT_TRUE(kind == 'p'   ? ::mkfifo(QFile::encodeName(at), 0600) == 0
                    : kind == 'd' ? QDir().mkdir(at)
                                  : (name != "-" || QDir(dir).removeRecursively()) &&
                                        QFile::link(QString(target).replace('~', other.path()), at));
        const QString installed = GnomeExtension::install(home.path(), 46);  // the ES-module form, for 45 and later
        EXPECT_TRUE(works ? installed.isEmpty()
                          : installed.startsWith("this agent could not install its GNOME Shell extension in "))
            << installed.toStdString();
        EXPECT_TRUE(readSmallFile(other.filePath("mine"), 4).bytes == "mine" &&
                    QDir(other.path()).entryList(QDir::Files) == QStringList{"mine"});
        for (const char *file : {"metadata.json", "extension.js"}) {
            QFile shipped(QStringLiteral(":/fennimar/shell/esm/fennimar-agent@fennimar.app/") + file);
            EXPECT_TRUE(!works || (shipped.open(QIODevice::ReadOnly) &&
                                   readSmallFile(dir + "/" + file, 1 << 20).bytes == shipped.readAll()))
                << file;
        }
    }
}

TEST_F(WaylandCompositorTest, GnomeShellThroughOurExtension)
{
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
    const auto extensions = [](QDBusConnection &bus, const char *method, const QString &uuid) {
        return callShell(bus, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions", method, {uuid},
                         Millis{20000});
    };
    // Both extensions take the form of the Shell's version ("GNOME Shell 48.7"): ES modules from 45 on.
    const auto said = test::runProgram("gnome-shell", {"--version"}, QProcessEnvironment::systemEnvironment(), 20000);
    const int major = said.value_or("").mid(12, 2).toInt();
    // Before this login the child changed the extension's code: the Shell loads that, and the
    // agent's rewrite at start takes effect only at the next login. Until then it is not believed.
    ASSERT_EQ(GnomeExtension::install(data.path(), major), QString());
    const QString folder = data.filePath(QStringLiteral("gnome-shell/extensions/%1/").arg(GnomeExtension::uuid));
    QFile changed(folder + "extension.js");
    ASSERT_TRUE(changed.open(QIODevice::Append) && changed.write("// the child's version\n") > 0);
    changed.close();
    // The agent's files are its user's alone; here the Shell runs as another.
    const auto readableByTheShell = [&] { return QProcess::execute("chmod", {"-R", "a+rX", folder}) == 0; };
    ASSERT_TRUE(readableByTheShell());
    {
        HeadlessCompositor first("sh", HeadlessCompositor::withBuses(shell), env);
        if (!first.skip.isEmpty())
            GTEST_SKIP() << "GNOME Shell: " << first.skip.toStdString();
        options.display = first.display;
        QDBusConnection firstBus = busWith(first, "org.gnome.Shell");
        if (!shellAnswers(firstBus))
            GTEST_SKIP() << "GNOME Shell owns its name but did not answer within 60 s: a start stuck outside the agent";
        // The Shell enables the extensions of the last session as it starts, before the agent does.
        ASSERT_TRUE(extensions(firstBus, "EnableExtension", GnomeExtension::uuid).arguments().value(0).toBool());
        WaylandDesktop desktop(clock, installed, nullptr, firstBus, options);
        EXPECT_TRUE(waitUntil([&] { return desktop.frontmostApp(), !desktop.replacedSource().isEmpty(); }, 20000));
        EXPECT_TRUE(
            desktop.samplingProblem().startsWith("the GNOME Shell extension running in this session is not "
                                                 "this agent's own (it reports version 3 and other code)"))
            << desktop.samplingProblem().toStdString();
    }
    // The next login, with a test extension that focuses a window: the Shell focuses none by itself here.
    const QString focusJs = QString(R"(%1 let d;
const focus = { enable() {
    d = Gio.DBusExportedObject.wrapJSObject('<node><interface name="test.Focus"><method name="Focus"><arg type="x"/></method></interface></node>',
        { Focus: pid => global.get_window_actors().map(a => a.meta_window).filter(w => w.get_pid() === pid)
                              .forEach(w => w.activate(global.get_current_time())) });
    d.export(Gio.DBus.session, '/test/Focus'); }, disable() { d.unexport(); } }; %2() { return focus; })")
                                .arg(major < 45 ? "const { Gio } = imports.gi;" : "import Gio from 'gi://Gio';",
                                     major < 45 ? "function init" : "export default function");
    ASSERT_TRUE(readableByTheShell());
    QDir(data.path()).mkpath("gnome-shell/extensions/focus@test");
    for (const auto &[name, text] :
         {std::pair{"metadata.json",
                    QString(R"({"uuid": "focus@test", "name": "f", "description": "f", "shell-version": ["%1"]})")
                        .arg(major)},
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
    const auto on = [&](const QString &uuid) {
        return qdbus_cast<QVariantMap>(extensions(bus, "GetExtensionInfo", uuid).arguments().value(0))["state"] == 1;
    };
    // On first: GNOME Shell 48 loads twice an extension whose turning on overlaps another's (and then fails it).
    extensions(bus, "EnableExtension", "focus@test");
    ASSERT_TRUE(waitUntil([&] { return on("focus@test"); }, 20000));
    VirtualClock minutes;  // the once-a-minute turning on again
    WaylandDesktop desktop(minutes, installed, nullptr, bus, options);
    ASSERT_EQ(desktop.choice().front, FrontSource::GnomeExtension) << desktop.choice().logLine().toStdString();
    EXPECT_EQ(desktop.choice().idle, IdleSource::MutterIdleMonitor);
    followNewWindows(next, desktop, [&](qint64 pid) {
        bus.call(QDBusMessage::createMethodCall("org.gnome.Shell", "/test/Focus", "test.Focus", "Focus") << pid,
                 QDBus::Block, 2000);
    });
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(0) > 0; }, 20000));
    // Turned off by someone in the session: turned on again, and the window asked for again.
    const auto turnedOnAgain = [&] {
        return on(GnomeExtension::uuid) && frontId(desktop) == QLatin1String("gtk3-demo");
    };
    extensions(bus, "DisableExtension", GnomeExtension::uuid);
    EXPECT_TRUE(waitUntil(turnedOnAgain, 20000));
    // Turned off again within the minute: nothing in front until the minute has passed, then on again.
    extensions(bus, "DisableExtension", GnomeExtension::uuid);
    EXPECT_TRUE(waitUntil([&] { return frontId(desktop) == QLatin1String("-"); }, 20000));
    EXPECT_EQ(desktop.samplingProblem(), "the agent's GNOME Shell extension is turned off");
    minutes.advance(Millis{60000});
    EXPECT_TRUE(waitUntil(turnedOnAgain, 20000));
}

}  // namespace
}  // namespace fennimar
