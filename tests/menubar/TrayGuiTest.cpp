// Runs only inside run-gui-test.sh: a real X server, window manager and tray host.
#include "TrayTestSupport.h"
#include "core/VirtualClock.h"

#include <QGuiApplication>
#include <QProcess>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

TEST(TrayGui, ShowsTheIconOnceAHostAppearsAndOpensTheMenuOnAClick)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || !qEnvironmentVariableIsSet("FENNIMAR_GUI_SESSION"))
        GTEST_SKIP() << "SKIPPED: needs the X session that run-gui-test.sh sets up";
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "the host must start after the icon";
    VirtualClock clock;
    MenuReadings readings;
    readings.state = AgentStates::Unpaired{};
    TrayMenu tray(
        clock, [&] { return readings; }, MenuActions{});
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right", "--SetDockType", "true"});
    ASSERT_TRUE(trayer.waitForStarted(5000));
    // The host docks the icon, then lays its panel out: click once the place has held for 0.5 s.
    QRect last;
    int steady = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            clock.advance(Millis(500));
            const QRect now = tray.trayIcon()->isVisible() ? tray.trayIcon()->geometry() : QRect();
            steady = now == last && now.width() > 0 ? steady + 1 : 0;
            last = now;
            QThread::msleep(50);
            return steady >= 10;
        },
        20000))
        << "the icon did not appear in the tray";
    const QPoint centre = last.center();
    EXPECT_EQ(QProcess::execute("xdotool",
                                {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "1"}),
              0);
    ASSERT_TRUE(waitFor([&] { return tray.menu()->isVisible(); }));
    EXPECT_EQ(menuTexts(*tray.menu()), expectedTexts(readings));
    tray.menu()->hide();  // trayer ends with its QProcess
}

}  // namespace
}  // namespace fennimar::test
