// The Wayland desktop against real headless compositors, run as an unprivileged user with their own
// runtime directory: sway (sway's IPC, wlr foreign-toplevel, KDE idle) and weston (nothing offers
// the focused window). Skipped, with the missing program named, where a compositor is not installed.
#include "platform/RealClock.h"
#include "platform/linux/DesktopEntryCatalog.h"
#include "platform/linux/wayland/WaylandDesktop.h"
#include "tests/linux/HeadlessCompositor.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/QtPrinters.h"

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
    struct Step {
        const char *command;  // empty: the newest window took focus
        const char *front;
        qint64 pid;
    };
    const Step steps[] = {{"", "fen-two", two},
                          {"[app_id=fen-one] focus", "fen-one", one},
                          {"workspace 9", "-", 0},
                          {"workspace 1", "fen-one", one}};
    for (const Step &step : steps) {
        SCOPED_TRACE(step.command);
        if (*step.command) {
            ASSERT_TRUE(sway.sway(QLatin1String(step.command)));
        }
        for (Desktop *desktop : {static_cast<Desktop *>(ipc.get()), static_cast<Desktop *>(toplevel.get())}) {
            EXPECT_TRUE(waitUntil([&] { return frontId(*desktop) == QLatin1String(step.front); }, 5000))
                << "got " << frontId(*desktop).toStdString();
        }
        const auto app = ipc->frontmostApp();
        EXPECT_EQ(app ? app->pid : 0, step.pid);
    }

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

TEST_F(WaylandCompositorTest, WestonOffersNothingAndSaysSo)
{
    HeadlessCompositor weston("weston", {"--backend=headless-backend.so", "--socket=wl-test", "--no-config"});
    if (!weston.skip.isEmpty())
        GTEST_SKIP() << "weston: " << weston.skip.toStdString();
    auto desktop = desktopOn(weston, QString());
    EXPECT_EQ(desktop->samplingProblem(),
              QStringLiteral("weston offers no way to see the focused window (neither sway's IPC nor wlr "
                             "foreign-toplevel management)"));
    EXPECT_EQ(desktop->frontmostApp(), std::nullopt);
    EXPECT_EQ(desktop->secondsSinceInput(), std::nullopt);
}

}  // namespace
}  // namespace fennimar
