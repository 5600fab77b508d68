// The Wayland desktop against real headless compositors, run as an unprivileged user with their own
// runtime directory: sway (sway's IPC, wlr foreign-toplevel, KDE idle) and weston (only the
// accessibility bus names the focused window). Skipped, naming what is missing, where one is not installed.
#include "platform/RealClock.h"
#include "platform/linux/DesktopEntryCatalog.h"
#include "platform/linux/wayland/WaylandDesktop.h"
#include "tests/linux/HeadlessCompositor.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/QtPrinters.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

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
}

// weston has no window list: the accessibility bus's active window names the app and its pid.
// weston runs on Xvfb because its headless backend has no keyboard and ACTIVE follows keyboard
// focus; the session bus is weston's user's, opened to this test's user too.
TEST_F(WaylandCompositorTest, WestonAccessibleAppInFront)
{
    if (const QStringList missing = test::missingTools({"Xvfb", "weston", "dbus-daemon", "gtk3-demo"});
        !missing.isEmpty())
        GTEST_SKIP() << "not installed: " << missing.join(", ").toStdString();
    HeadlessCompositor westonOnX("sh", HeadlessCompositor::westonWithKeyboard());
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
    EXPECT_EQ(desktop.samplingProblem().toStdString(),
              "only apps that support accessibility can be seen on weston (not terminals such as foot or xterm, games, "
              "Wine or Java apps)");
    // A terminal has no accessibility tree: while it is in front, nothing is.
    westonOnX.start("foot", {"sleep", "600"});
    EXPECT_TRUE(waitUntil([&] { return frontId(desktop) == QLatin1String("-"); }, 20000))
        << "got " << frontId(desktop).toStdString();
}

}  // namespace
}  // namespace fennimar
