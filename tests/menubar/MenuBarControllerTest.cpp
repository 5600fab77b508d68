#include "menubar/MenuBarController.h"
#include "menubar/MenuTexts.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QTimeZone>

using namespace fennimar;

namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc());

// One entry as a line of text, so that whole menus compare as readable lists.
QString describe(const MenuEntry &e)
{
    switch (e.kind) {
        case MenuEntry::Kind::Separator:
            return QStringLiteral("---");
        case MenuEntry::Kind::Label:
            return QStringLiteral("label ") + e.title;
        case MenuEntry::Kind::Dimmed:
            return QStringLiteral("dim ") + e.title;
        case MenuEntry::Kind::Code:
            return QStringLiteral("code %1 [%2] (%3)").arg(e.title, e.shown, e.toolTip);
        case MenuEntry::Kind::Action:
            return QStringLiteral("action %1 #%2%3")
                .arg(e.title)
                .arg(static_cast<int>(e.action))
                .arg(e.toolTip.isEmpty() ? QString() : QStringLiteral(" (") + e.toolTip + QLatin1Char(')'));
    }
    return {};
}

QStringList describe(const std::vector<MenuEntry> &menu)
{
    QStringList out;
    for (const MenuEntry &e : menu)
        out << describe(e);
    return out;
}

MenuReadings base()
{
    MenuReadings r;
    r.now = kNow;
    r.computerName = QStringLiteral("kitchen-pc");
    r.userName = QStringLiteral("mia");
    r.loginItem = LoginService::Status::Enabled;
    return r;
}

MenuReadings paired()
{
    MenuReadings r = base();
    r.state = AgentStates::Paired{PairedIdentity{"dev-1", "child-1", "Mia", "token", kNow}};
    r.verdict = MenuVerdict::idle();
    r.monitored = MonitoredReading{1, 0, std::nullopt};
    r.lastBeat = kNow.addSecs(-5);
    return r;
}

const QString kQuitTail[] = {"---", "action Quit Fennimar #5"};
const QString kAccessTip = "Fennimar needs the desktop's accessibility permission to see which site is open.";
const QString kLoginTip =
    "Fennimar needs permission to start at login. Without it, monitoring stops the next time this computer restarts.";

struct MenuCase {
    const char *name;
    std::function<void(MenuReadings &)> setup;
    QStringList expected;  // without the common tail
};

class WholeMenu : public testing::TestWithParam<MenuCase> {};

TEST_P(WholeMenu, ListsEveryEntryInOrder)
{
    MenuReadings r = base();
    GetParam().setup(r);
    QStringList expected = GetParam().expected;
    expected << kQuitTail[0] << kQuitTail[1];
    EXPECT_EQ(describe(MenuBarController::menu(r)).join('\n'), expected.join('\n'));
}

INSTANTIATE_TEST_SUITE_P(
    States, WholeMenu,
    testing::Values(
        MenuCase{"pairing",
                 [](MenuReadings &r) {
                     r.state = AgentStates::Pairing{"ABC123", kNow.addSecs(9 * 60 + 40)};
                 },
                 {"label Enter this code in the Fennimar app", "code ABC123 [   A B C 1 2 3] (Click to copy)",
                  "dim Expires in 9 minutes · click the code to copy", "---", "action Cancel #2"}},
        MenuCase{"unpaired",
                 [](MenuReadings &) {},
                 {"label Fennimar isn't set up yet", "---", "action Pair this computer… #1"}},
        MenuCase{"failed",
                 [](MenuReadings &r) { r.state = AgentStates::Failed{"The code expired & was not used."}; },
                 {"label Something went wrong", "dim The code expired & was not used.", "---", "action Try again #1"}},
        MenuCase{"pairedInFull",
                 [](MenuReadings &r) {
                     r = paired();
                     r.todaySeconds = 3900;
                     r.verdict = MenuVerdict::counting("linux:org.gnome.TextEditor");
                     r.appName = [](const QString &id) -> std::optional<QString> {
                         if (id == "org.gnome.TextEditor")
                             return QStringLiteral("Text Editor.app");
                         return std::nullopt;
                     };
                     r.monitored = MonitoredReading{1, 2, std::nullopt};
                     r.lastBeat = kNow.addSecs(-150);
                 },
                 {"label Counting for Mia", "dim Today: 1h 05m counted", "dim Counting Text Editor now", "---",
                  "dim 1 app being counted", "action Turn on website counting… #6 (" + kAccessTip + ")", "---",
                  "dim Last check-in 2 minutes ago", "dim This computer: kitchen-pc (mia)", "---",
                  "action Unpair this computer… #4"}},
        MenuCase{"pairedBeforeAnythingIsKnown",
                 [](MenuReadings &r) {
                     r = paired();
                     r.verdict.reset();
                     r.monitored.reset();
                     r.lastBeat.reset();
                     r.computerName.clear();
                     r.loginItem = LoginService::Status::RequiresApproval;
                 },
                 {"label Counting for Mia", "dim Today: 0s counted", "dim Starting up…", "---",
                  "dim Loading your app list…", "action Won't restart on its own — fix… #7 (" + kLoginTip + ")", "---",
                  "dim Connecting…", "dim This computer: PC (mia)", "---", "action Unpair this computer… #4"}}),
    [](const testing::TestParamInfo<MenuCase> &p) { return p.param.name; });

// The single lines of the paired menu, each with the readings that decide it.
TEST(PairedLines, FollowTheirReadings)
{
    const auto apps = [](const QString &id) -> std::optional<QString> {
        if (id == "firefox-esr")
            return QStringLiteral("Firefox ESR");
        if (id == "tool")
            return QStringLiteral("My.app Tool.app.APP");
        if (id == "blank")
            return QStringLiteral(".app");
        return std::nullopt;
    };
    struct Case {
        std::function<void(MenuReadings &)> setup;
        QString (*line)(const MenuReadings &);
        QString expected;
    };
    const auto activity = &MenuBarController::activityLine;
    const auto monitored = &MenuBarController::monitoredLine;
    const auto beat = &MenuBarController::beatLine;
    const auto list = [](qsizetype a, qsizetype d, std::optional<QString> e) {
        return [=](MenuReadings &r) { r.monitored = MonitoredReading{a, d, e}; };
    };
    const Case cases[] = {
        {[](MenuReadings &r) { r.verdict = MenuVerdict::idle(); }, activity, "Nothing being counted right now"},
        {[](MenuReadings &r) { r.verdict = MenuVerdict::counting("example.com"); }, activity,
         "Counting example.com now"},
        {[](MenuReadings &r) { r.verdict = MenuVerdict::notMonitored("linux:org.gnome.Calculator"); }, activity,
         "org.gnome.Calculator — not on the list, free"},
        {[](MenuReadings &r) { r.verdict = MenuVerdict::browserNoPermission("firefox-esr"); }, activity,
         "Firefox ESR — websites need permission"},
        {[](MenuReadings &r) { r.verdict = MenuVerdict::browserUnreadable("firefox-esr", "no focused window"); },
         activity, "Firefox ESR — can't read the page, free"},
        {[](MenuReadings &r) { r.verdict = MenuVerdict::counting("tool"); }, activity, "Counting My Tool.APP now"},
        {[](MenuReadings &r) { r.verdict = MenuVerdict::counting("blank"); }, activity, "Counting blank now"},
        {list(0, 0, std::nullopt), monitored, "No apps picked yet — nothing is being counted."},
        {list(0, 0, "timed out"), monitored, "Couldn't load the app list — timed out"},
        {list(0, 3, "timed out"), monitored, "Couldn't load the app list — timed out"},
        {list(4, 0, "timed out"), monitored, "4 apps being counted"},
        {list(0, 2, std::nullopt), monitored, "0 apps being counted"},
        {[](MenuReadings &r) { r.lastBeatError = "HTTP 503"; }, beat, "Can't reach Fennimar — HTTP 503"},
        {[](MenuReadings &r) { r.lastBeat = kNow.addSecs(30); }, beat, "Last check-in in 30 seconds"},
    };
    for (const Case &c : cases) {
        MenuReadings r = paired();
        r.appName = apps;
        c.setup(r);
        EXPECT_EQ(c.line(r), c.expected);
    }
}

TEST(PairedLines, PermissionAndLoginItemEntries)
{
    MenuReadings r = paired();
    r.monitored = MonitoredReading{1, 0, std::nullopt};
    r.accessibilityTrusted = true;
    EXPECT_FALSE(MenuBarController::permissionLine(r));
    for (const auto &[sites, line] :
         {std::pair{1, "dim Websites: counting 1 site"}, {2, "dim Websites: counting 2 sites"}}) {
        r.monitored->domainCount = sites;
        EXPECT_EQ(describe(*MenuBarController::permissionLine(r)), line);
    }
    for (const auto status : {LoginService::Status::NotRegistered, LoginService::Status::NotFound}) {
        r.loginItem = status;
        EXPECT_EQ(MenuBarController::loginItemLine(r).value_or(MenuEntry{}).action, MenuAction::OpenLoginItems);
    }
}

TEST(MenuIcon, FollowsStateAndHeartbeat)
{
    MenuReadings r = paired();
    EXPECT_EQ(MenuBarController::icon(r), MenuIcon::Filled);
    r.lastBeatError = "timed out";
    EXPECT_EQ(MenuBarController::icon(r), MenuIcon::Alert);
    r.state = AgentStates::Failed{"x"};
    EXPECT_EQ(MenuBarController::icon(r), MenuIcon::Alert);
    // A heartbeat error left over from an earlier pairing does not colour the pairing icon.
    r.state = AgentStates::Pairing{"ABC123", kNow};
    EXPECT_EQ(MenuBarController::icon(r), MenuIcon::Outline);
    r.state = AgentStates::Unpaired{};
    EXPECT_EQ(MenuBarController::icon(r), MenuIcon::Outline);
}

TEST(MenuTexts, Minutes)
{
    const std::pair<qint64, const char *> cases[] = {
        {0, "0s"},        {45, "45s"},      {59, "59s"},        {60, "1 min"},      {754, "12 min"}, {3599, "59 min"},
        {3600, "1h 00m"}, {3900, "1h 05m"}, {86400, "24h 00m"}, {90061, "25h 01m"}, {-5, "-5s"}};
    for (const auto &[seconds, text] : cases)
        EXPECT_EQ(MenuTexts::minutes(seconds), text) << seconds;
}

TEST(MenuTexts, Spaced)
{
    EXPECT_EQ(MenuTexts::spaced("ABC123"), "A B C 1 2 3");
    EXPECT_EQ(MenuTexts::spaced("ABC123").size(), 11);
    EXPECT_EQ(MenuTexts::spaced(""), "");
    EXPECT_EQ(MenuTexts::spaced("Z"), "Z");
    EXPECT_EQ(MenuTexts::spaced(QString::fromUtf8("A\xF0\x9F\x98\x80"
                                                  "B")),
              QString::fromUtf8("A \xF0\x9F\x98\x80 B"));
}

TEST(MenuTexts, RelativeTime)
{
    const std::pair<qint64, const char *> cases[] = {
        {9 * 60 * 1000 + 59'900, "in 9 minutes"},
        {-2 * 60 * 1000, "2 minutes ago"},
        {-179'000, "2 minutes ago"},
        {30'000, "in 30 seconds"},
        {1'000, "in 1 second"},
        {0, "in 0 seconds"},
        {-400, "0 seconds ago"},
        {-59'999, "59 seconds ago"},
        {-3600'000, "1 hour ago"},
        {2 * 86400'000LL + 5, "in 2 days"},
        {-8 * 86400'000LL, "1 week ago"},
        {-45 * 86400'000LL, "1 month ago"},
        {-800 * 86400'000LL, "2 years ago"},
    };
    for (const auto &[millis, text] : cases)
        EXPECT_EQ(MenuTexts::relativeTime(kNow.addMSecs(millis), kNow), text) << millis;
    EXPECT_EQ(MenuTexts::relativeTime(QDateTime(), kNow), "now");
}

}  // namespace
