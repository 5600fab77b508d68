// What the paired menu and icon say when something keeps the agent from measuring or reporting
// while its heartbeat still succeeds.
#include "menubar/MenuBarController.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QTimeZone>

using namespace fennimar;

namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc());

MenuReadings pairedAndHealthy()
{
    MenuReadings r;
    r.now = kNow;
    r.loginItem = LoginService::Status::Enabled;
    r.state = AgentStates::Paired{PairedIdentity{"dev-1", "child-1", "Mia", "token", kNow}};
    r.verdict = MenuVerdict::idle();
    r.monitored = MonitoredReading{1, 0, std::nullopt};
    r.lastBeat = kNow.addSecs(-5);
    return r;
}

QStringList dimmedLines(const MenuReadings &r)
{
    QStringList out;
    for (const MenuEntry &e : MenuBarController::menu(r))
        if (e.kind == MenuEntry::Kind::Dimmed)
            out << e.title;
    return out;
}

TEST(MenuTrouble, EachSilentFailureHasItsLineAndTheWarningIcon)
{
    const QString unauthorized = QStringLiteral("Server returned 401: token revoked");
    struct Case {
        const char *name;
        std::function<void(MenuReadings &)> set;
        QString line;  // the line that must appear; empty: none of the trouble lines
        MenuIcon icon;
    };
    const Case cases[] = {
        {"healthy", [](MenuReadings &) {}, {}, MenuIcon::Filled},
        {"reports refused while the heartbeat succeeds",
         [&](MenuReadings &r) {
             r.reportFailure = FailureReading{unauthorized, kNow.addSecs(-600)};
         },
         QStringLiteral("Usage not sent — Server returned 401: token revoked (failing since 10 minutes ago)"),
         MenuIcon::Alert},
        {"list refresh refused with apps known from before",
         [&](MenuReadings &r) {
             r.monitored->lastError = unauthorized;
             r.listFailure = FailureReading{unauthorized, kNow.addSecs(-900)};
         },
         QStringLiteral("App list not updated — Server returned 401: token revoked (failing since 15 minutes ago)"),
         MenuIcon::Filled},
        {"a forged line in an error body",
         [](MenuReadings &r) {
             r.reportFailure =
                 FailureReading{QStringLiteral("Server returned 400: x\nCounting for Mia"), kNow.addSecs(-60)};
         },
         QStringLiteral("Usage not sent — Server returned 400: x\\nCounting for Mia (failing since 1 minute ago)"),
         MenuIcon::Alert},
        {"no display", [](MenuReadings &r) { r.samplingProblem = QStringLiteral("no display connection"); },
         QStringLiteral("Cannot see which app is in front: no display connection"), MenuIcon::Alert},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MenuReadings r = pairedAndHealthy();
        c.set(r);
        const QStringList lines = dimmedLines(r);
        if (c.line.isEmpty()) {
            EXPECT_TRUE(lines.filter(QStringLiteral("Usage not sent")).isEmpty());
            EXPECT_TRUE(lines.filter(QStringLiteral("Cannot see")).isEmpty());
        } else {
            EXPECT_TRUE(lines.contains(c.line)) << lines.join(QLatin1Char('\n')).toStdString();
        }
        EXPECT_EQ(MenuBarController::icon(r), c.icon);
    }
}

TEST(MenuTrouble, AListThatNeverLoadedSaysSoOnce)
{
    MenuReadings r = pairedAndHealthy();
    r.monitored = MonitoredReading{0, 0, QStringLiteral("Server returned 401: no")};
    r.listFailure = FailureReading{QStringLiteral("Server returned 401: no"), kNow};
    EXPECT_EQ(dimmedLines(r).filter(QStringLiteral("Server returned 401: no")).size(), 1);
}

TEST(MenuTrouble, TheWebsitePermissionTooltipNamesThisDesktop)
{
    MenuReadings r = pairedAndHealthy();
    r.monitored = MonitoredReading{1, 2, std::nullopt};
    const std::optional<MenuEntry> line = MenuBarController::permissionLine(r);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->toolTip,
              QStringLiteral("Fennimar needs the desktop's accessibility permission to see which site is open."));
}

TEST(MenuTrouble, WhileTheKeyringIsWaitedForNoPairingIsOffered)
{
    MenuReadings r = pairedAndHealthy();
    r.state = AgentStates::Unpaired{};
    r.waitingFor = QStringLiteral("Waiting for the keyring to be unlocked");
    const std::vector<MenuEntry> menu = MenuBarController::menu(r);
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu.front().title, QStringLiteral("Waiting for the keyring to be unlocked"));
    for (const MenuEntry &e : menu)
        EXPECT_NE(e.action, MenuAction::Pair) << e.title.toStdString();
}

}  // namespace
