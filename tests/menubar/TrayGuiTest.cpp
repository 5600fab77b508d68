// Runs only inside run-gui-test.sh: a real X server, window manager and tray host.
#include "TrayTestSupport.h"

#include "platform/VirtualClock.h"

#include <QGuiApplication>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace fennimar;
using namespace fennimar::test;

namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc());

bool xdotool(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

TEST(TrayGui, ShowsTheIconOnceAHostAppearsAndOpensTheMenuOnClicks)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || !qEnvironmentVariableIsSet("FENNIMAR_GUI_SESSION"))
        GTEST_SKIP() << "SKIPPED: needs the X session that run-gui-test.sh sets up";
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "the host must start after the icon";

    VirtualClock clock(kNow);
    MenuReadings readings;
    readings.now = kNow;
    readings.userName = QStringLiteral("mia");
    readings.computerName = QStringLiteral("kitchen-pc");
    TrayMenu tray(
        clock, [&] { return readings; }, MenuActions{});

    QProcess trayer;
    trayer.start(QStringLiteral("trayer"),
                 {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32", "--transparent",
                  "false", "--tint", "0xeeeeee", "--SetDockType", "true"});
    ASSERT_TRUE(trayer.waitForStarted(5000));
    const bool shown = waitFor(
        [&] {
            clock.advance(Millis(500));
            return tray.trayIcon()->isVisible() && tray.trayIcon()->geometry().width() > 0;
        },
        15000);
    ASSERT_TRUE(shown) << "the icon did not appear in the tray";
    // The host docks the icon and then lays its panel out: click only once the place has settled.
    QRect last;
    int steady = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            const QRect now = tray.trayIcon()->geometry();
            steady = now == last ? steady + 1 : 0;
            last = now;
            waitFor([] { return false; }, 50);
            return steady >= 10;
        },
        10000));

    struct Step {
        const char *name;
        AgentState state;
        const char *button;  // xdotool button: 1 opens through the left click, 3 through the context click
    };
    PairedIdentity mia{"dev-1", "child-1", "Mia", "token", kNow};
    const Step steps[] = {
        {"pairing", AgentStates::Pairing{"K7M2QX", kNow.addSecs(9 * 60 + 30)}, "1"},
        {"paired", AgentStates::Paired{mia}, "1"},
        {"failed", AgentStates::Failed{"The pair code expired before it was used."}, "3"},
    };
    readings.todaySeconds = 3900;
    readings.verdict = MenuVerdict::counting("example.com");
    readings.monitored = MonitoredReading{2, 1, std::nullopt};
    readings.lastBeat = kNow.addSecs(-12);
    readings.loginItem = LoginService::Status::Enabled;
    for (const Step &step : steps) {
        readings.state = step.state;
        tray.refreshIcon();
        QApplication::processEvents();
        const QRect icon = tray.trayIcon()->geometry();
        const QPoint centre = icon.center();
        ASSERT_TRUE(
            xdotool({"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", step.button}));
        ASSERT_TRUE(waitFor([&] { return tray.menu()->isVisible(); })) << step.name;
        EXPECT_EQ(menuTexts(*tray.menu()), expectedTexts(readings)) << step.name;
        if (QLatin1String(step.button) == QLatin1String("1")) {  // our placement: below the top panel's icon
            EXPECT_GT(tray.menu()->geometry().top(), icon.bottom()) << step.name;
        }
        ASSERT_TRUE(xdotool({"key", "Escape"}));
        ASSERT_TRUE(waitFor([&] { return !tray.menu()->isVisible(); })) << step.name;
    }
    trayer.terminate();
    trayer.waitForFinished(3000);
}

}  // namespace
