#include "TrayTestSupport.h"

#include "platform/VirtualClock.h"

#include <QClipboard>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc());
const AgentState kPairing = AgentStates::Pairing{"ABC123", kNow.addSecs(600)};
AgentState paired(const QString &child = QStringLiteral("Mia"))
{
    return AgentStates::Paired{PairedIdentity{"dev-1", "child-1", child, "token", {}}};
}

struct TrayFixture : testing::Test {
    VirtualClock clock;
    MenuReadings readings;
    std::map<QString, int> calls;
    TrayMenu tray{
        clock, [this] { return readings; },
        MenuActions{count("pair"), count("cancel"), count("unpair"), count("quit"), count("website"), count("login")}};
    TrayFixture() { readings.now = kNow; }
    std::function<void()> count(const char *name)
    {
        return [this, name] { ++calls[name]; };
    }
};

TEST_F(TrayFixture, ShowsTheReadingsOfEachOpeningAndCallsEachEntrysAction)
{
    readings.state = paired("Tom & Mia");  // names arrive from outside: "&" is shown, not a mnemonic
    EXPECT_EQ(openedTexts(tray).value(0), "Counting for Tom && Mia");
    readings.monitored = MonitoredReading{0, 1, std::nullopt};
    const std::tuple<AgentState, const char *, const char *> cases[] = {
        {AgentStates::Unpaired{}, "Pair this computer…", "pair"},
        {AgentStates::Failed{"x"}, "Try again", "pair"},
        {kPairing, "Cancel", "cancel"},
        {kPairing, "Quit Fennimar", "quit"},
        {paired(), "Turn on website counting…", "website"},
        {paired(), "Won't restart on its own — fix…", "login"},
        {paired(), "Unpair this computer…", "unpair"},
    };
    for (const auto &[state, entry, call] : cases) {
        calls.clear();
        readings.state = state;
        EXPECT_EQ(openedTexts(tray), expectedTexts(readings)) << entry;
        EXPECT_TRUE(choose(tray, entry, QStringLiteral("Unpair"))) << entry;
        EXPECT_EQ(calls, (std::map<QString, int>{{call, 1}})) << entry;
    }
}

TEST_F(TrayFixture, EscapeIsNoToUnpairAndOnlyACodeStillOfferedIsCopied)
{
    readings.state = paired();
    choose(tray, "Unpair this computer…", QString());  // Escape
    EXPECT_EQ(calls["unpair"], 0);
    readings.state = kPairing;
    choose(tray, "   A B C 1 2 3");
    EXPECT_EQ(QApplication::clipboard()->text(), "ABC123");
    // Opened while pairing, clicked after the pairing ended: nothing is copied.
    QApplication::clipboard()->setText("something else");
    openedTexts(tray);
    readings.state = paired();
    QAction *code = tray.menu()->actions().value(1);
    code->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "something else");
}

}  // namespace
}  // namespace fennimar::test
