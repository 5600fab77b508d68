#include "menubar/MenuBarController.h"
#include "menubar/StatusText.h"

#include <gtest/gtest.h>

#include <QTimeZone>

using namespace fennimar;

namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc());

// --status prints the menu: every line a user needs (the code to type, the problems to fix, the
// command for each action), nothing to click, no "Quit", one empty line per separator.
TEST(StatusText, PrintsTheMenuAsATerminalNeedsIt)
{
    MenuReadings pairing;
    pairing.now = kNow;
    pairing.state = AgentStates::Pairing{QStringLiteral("ABC123"), kNow.addSecs(9 * 60 + 30)};

    MenuReadings paired;
    paired.now = kNow;
    paired.state = AgentStates::Paired{{"dev-1", "child-1", "Robin", "token", kNow}};
    paired.todaySeconds = 3900;
    paired.monitored = MonitoredReading{1, 2, std::nullopt};
    paired.loginItem = LoginService::Status::RequiresApproval;
    paired.computerName = QStringLiteral("kitchen-pc");
    paired.userName = QStringLiteral("mia");

    struct Case {
        const char *name;
        MenuReadings readings;
        QString expected;
    };
    const Case cases[] = {
        {"pairing", pairing,
         "Enter this code in the Fennimar app\n  ABC123\n  Expires in 9 minutes\n\n"
         "  Cancel: fennimar-agent --cancel-pairing\n"},
        {"paired with both problems", paired,
         "Counting for Robin\n  Today: 1h 05m counted\n  Starting up…\n\n  1 app being counted\n"
         "! Turn on website counting…\n  " +
             MenuBarController::permissionLine(paired)->toolTip + "\n! Won't restart on its own — fix…\n  " +
             MenuBarController::loginItemLine(paired)->toolTip +
             "\n\n  Connecting…\n  This computer: kitchen-pc (mia)\n\n"
             "  Unpair this computer…: fennimar-agent --unpair\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StatusText::render(MenuBarController::menu(c.readings)).toStdString(), c.expected.toStdString());
    }
}

}  // namespace
