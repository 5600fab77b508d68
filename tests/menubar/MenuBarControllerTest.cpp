// The menu's model: every condition that changes what the menu, its icon and --status say.
#include "menubar/MenuBarController.h"
#include "menubar/MenuTexts.h"
#include "menubar/NoticeBoard.h"
#include "platform/PlatformTraits.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QStringList>
#include <QTimeZone>

using namespace fennimar;

namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc());
const QString kAccessTip = platform::osName() == "macos"
                               ? "Fennimar needs macOS Accessibility permission to see which site is open."
                               : "Fennimar needs the desktop's accessibility permission to see which site is open.";
const QString kLoginTip =
    "Fennimar needs permission to start at login. Without it, monitoring stops the next time this computer restarts.";

// One entry as a line of text, so that whole menus compare as readable lists.
QString describe(const MenuEntry &e)
{
    using K = MenuEntry::Kind;
    const QString tip = e.toolTip.isEmpty() ? QString() : " (" + e.toolTip + ")";
    if (e.kind == K::Code)
        return QStringLiteral("code %1 [%2]").arg(e.title, e.shown) + tip;
    if (e.kind == K::Action)
        return QStringLiteral("action %1 #%2").arg(e.title).arg(static_cast<int>(e.action)) + tip;
    return e.kind == K::Separator ? QStringLiteral("---") : (e.kind == K::Label ? "label " : "dim ") + e.title;
}

QStringList describe(const std::vector<MenuEntry> &menu)
{
    QStringList out;
    for (const MenuEntry &e : menu)
        out << describe(e);
    return out;
}

using R = MenuReadings &;

MenuReadings paired()
{
    MenuReadings r;
    r.now = kNow;
    r.computerName = QStringLiteral("kitchen-pc");
    r.userName = QStringLiteral("mia");
    r.loginItem = LoginService::Registration::Enabled;
    r.state = AgentStates::Paired{PairedIdentity{"dev-1", "child-1", "Mia", "token", kNow}};
    r.verdict = MenuVerdict::idle();
    r.monitored = MonitoredReading{1, 0, std::nullopt};
    r.lastBeat = kNow.addSecs(-5);
    return r;
}

std::optional<QString> appName(const QString &id)
{
    const QMap<QString, QString> names{
        {"org.gnome.TextEditor", "Text Editor.app"}, {"firefox-esr", "Firefox ESR"}, {"tool", "My.app Tool.app.APP"}};
    return names.contains(id) ? std::optional(names[id]) : std::nullopt;
}

TEST(MenuBarController, WholeMenuForEachState)
{
    const QStringList healthyTail = {"---", "dim Last check-in 5 seconds ago", "dim This computer: kitchen-pc (mia)",
                                     "---", "action Unpair this computer… #4"};
    struct Case {
        const char *name;
        std::function<void(MenuReadings &)> setup;
        QStringList expected;  // without "---", "action Quit Fennimar #5"
    };
    const Case cases[] = {
        {"pairing",
         [](R r) {
             r.state = AgentStates::Pairing{"ABC123", kNow.addSecs(9 * 60 + 40)};
         },
         {"label Enter this code in the Fennimar app", "code ABC123 [   A B C 1 2 3] (Click to copy)",
          "dim Expires in 9 minutes · click the code to copy", "---", "action Cancel #2"}},
        {"unpaired",
         [](R r) { r.state = AgentStates::Unpaired{}; },
         {"label Fennimar isn't set up yet", "---", "action Pair this computer… #1"}},
        {"keyring awaited: no pairing offered",
         [](R r) { r.state = AgentStates::Unpaired{}, r.waitingFor = "Waiting for the keyring to be unlocked"; },
         {"label Waiting for the keyring to be unlocked",
          "dim Fennimar goes on by itself once it can read its pairing."}},
        {"failed",
         [](R r) { r.state = AgentStates::Failed{"The code expired & was not used."}; },
         {"label Something went wrong", "dim The code expired & was not used.", "---", "action Try again #1"}},
        {"unpairing failed: unpair again, never a second pairing",
         [](R r) {
             r.state = AgentStates::Failed{"Could not remove the stored pairing.", true};
         },
         {"label Something went wrong", "dim Could not remove the stored pairing.", "---",
          "action Unpair this computer… #4"}},
        {"paired, no sites, login item enabled", [](R) {},
         QStringList{"label Counting for Mia", "dim Today: 0s counted", "dim Nothing being counted right now", "---",
                     "dim 1 app being counted"} +
             healthyTail},
        {"paired in full",
         [](R r) {
             r.todaySeconds = 3900, r.monitored = MonitoredReading{1, 2, std::nullopt}, r.lastBeat = kNow.addSecs(-150);
             r.verdict = MenuVerdict::counting(platform::appPrefix() + "org.gnome.TextEditor");
         },
         {"label Counting for Mia", "dim Today: 1h 05m counted", "dim Counting Text Editor now", "---",
          "dim 1 app being counted", "action Turn on website counting… #6 (" + kAccessTip + ")", "---",
          "dim Last check-in 2 minutes ago", "dim This computer: kitchen-pc (mia)", "---",
          "action Unpair this computer… #4"}},
        {"trusted with sites, login item not registered",
         [](R r) {
             r.accessibilityTrusted = true, r.monitored = MonitoredReading{1, 1, std::nullopt};
             r.loginItem = LoginService::Registration::NotRegistered;
         },
         QStringList{"label Counting for Mia", "dim Today: 0s counted", "dim Nothing being counted right now", "---",
                     "dim 1 app being counted", "dim Websites: counting 1 site",
                     "action Won't restart on its own — fix… #7 (" + kLoginTip + ")"} +
             healthyTail},
        {"paired before anything is known",
         [](R r) {
             r.verdict.reset(), r.monitored.reset(), r.lastBeat.reset(), r.computerName.clear();
             r.loginItem = LoginService::Registration::RequiresApproval;
         },
         {"label Counting for Mia", "dim Today: 0s counted", "dim Starting up…", "---", "dim Loading your app list…",
          "action Won't restart on its own — fix… #7 (" + kLoginTip + ")", "---", "dim Connecting…",
          "dim This computer: PC (mia)", "---", "action Unpair this computer… #4"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MenuReadings r = paired();
        r.appName = appName;
        c.setup(r);
        EXPECT_EQ(describe(MenuBarController::menu(r)).join('\n').toStdString(),
                  (c.expected + QStringList{"---", "action Quit Fennimar #5"}).join('\n').toStdString());
    }
}

// Each reading has its line (a trouble line once), and the icon warns when the user must act.
TEST(MenuBarController, LinesFollowTheirReadingsAndTheIconWarns)
{
    const auto verdict = [](MenuVerdict v) { return [=](R r) { r.verdict = v; }; };
    const auto list = [](MonitoredReading m) { return [=](R r) { r.monitored = m; }; };
    const auto reports = [](QString e, int ago) { return [=](R r) { r.reportFailure = {e, kNow.addSecs(-ago)}; }; };
    const auto listRefused = [](MonitoredReading m, int ago) {
        return [=](R r) { r.monitored = m, r.listFailure = {"401: revoked", kNow.addSecs(-ago)}; };
    };
    const auto pairingAfterBeatError = [](R r) { r.state = AgentStates::Pairing{"A", kNow}, r.lastBeatError = "x"; };
    const auto F = MenuIcon::Filled, A = MenuIcon::Alert, O = MenuIcon::Outline;
    const struct {
        const char *name;
        std::function<void(MenuReadings &)> set;
        QString line;  // a dimmed line the menu must show; empty: none checked
        MenuIcon icon;
    } cases[] = {
        {"counting a site", verdict(MenuVerdict::counting("example.com")), "Counting example.com now", F},
        {"not monitored", verdict(MenuVerdict::notMonitored(platform::appPrefix() + "org.gnome.Calculator")),
         "org.gnome.Calculator — not on the list, free", F},
        {"browser without permission", verdict(MenuVerdict::browserNoPermission("firefox-esr")),
         "Firefox ESR — websites need permission", F},
        {"browser unreadable", verdict(MenuVerdict::browserUnreadable("firefox-esr", "no focused window")),
         "Firefox ESR — can't read the page, free", F},
        {"only .app removed from a name", verdict(MenuVerdict::counting("tool")), "Counting My Tool.APP now", F},
        {"nothing picked", list({0, 0, std::nullopt}), "No apps picked yet — nothing is being counted.", F},
        {"list failed, none known", list({0, 3, "timed out"}), "Couldn't load the app list — timed out", F},
        {"heartbeat failing", [](R r) { r.lastBeatError = "HTTP 503"; }, "Can't reach Fennimar — HTTP 503", A},
        {"failed", [](R r) { r.state = AgentStates::Failed{"x"}; }, {}, A},
        {"pairing after a heartbeat error", pairingAfterBeatError, {}, O},
        {"reports refused", reports("401: revoked", 600),
         "Usage not sent — 401: revoked (failing since 10 minutes ago)", A},
        {"list refresh refused, apps known from before", listRefused({1, 0, "401: revoked"}, 900),
         "App list not updated — 401: revoked (failing since 15 minutes ago)", F},
        {"list never loaded: said once", listRefused({0, 0, "401: revoked"}, 0),
         "Couldn't load the app list — 401: revoked", F},
        {"an old list in use: when from, and an alert",
         [](R r) {
             r.listFailure = {"x", kNow.addSecs(-60)}, r.listFetched = kNow.addSecs(-7200), r.listStale = true;
         },
         "Using the app list from 2 hours ago — not updated: x (failing since 1 minute ago)", A},
        {"a forged line in an error body", reports("400: x\nCounting for Mia", 60),
         "Usage not sent — 400: x\\nCounting for Mia (failing since 1 minute ago)", A},
        {"apps not sent", [](R r) { r.appsFailure.emplace("Server returned 429: slow down", kNow.addSecs(-300)); },
         "Apps not sent — Server returned 429: slow down (failing since 5 minutes ago)", A},
        {"days refused alone", [](R r) { r.refusedDays = QString("2026-03-10,2026-03-11").split(','); },
         "Usage of 2026-03-10, 2026-03-11 refused by Fennimar — kept on this computer", A},
        {"no display", [](R r) { r.samplingProblem = QStringLiteral("no display connection"); },
         "Cannot see which app is in front: no display connection", A},
        {"a browser hiding its pages", [](R r) { r.unreadableBrowser = "firefox-esr"; },
         "Can't read pages in Firefox ESR — its sites count nothing (accessibility off?)", A},
        {"our name held by another program", [](R r) { r.tamper = "the bus name is held by pid 7 (/tmp/x)"; },
         "Something tries to fool the count: the bus name is held by pid 7 (/tmp/x)", A},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        MenuReadings r = paired();
        r.appName = appName;
        c.set(r);
        const QStringList lines = describe(MenuBarController::menu(r));
        for (const char *trouble : {"Usage not sent", "App list not", "Couldn't load", "Cannot see", "Can't reach",
                                    "Apps not", "Usage of", "fool the count", "Using the app list"})
            EXPECT_EQ(lines.filter(trouble).size(), c.line.contains(trouble) ? 1 : 0) << trouble;
        EXPECT_TRUE(c.line.isEmpty() || lines.contains("dim " + c.line)) << lines.join('\n').toStdString();
        EXPECT_EQ(MenuBarController::icon(r), c.icon);
    }
}

class RecordingNotifier : public Notifier {
public:
    std::vector<Notice> shown;
    void show(const Notice &n) override { shown.push_back(n); }
    void withdraw(const QString &) override {}
    void setActionHandler(ActionHandler) override {}
};

// Notified only without a tray; a failure as a fixed sentence; no outside text draws a line of its own.
TEST(NoticeBoard, WhatIsNotifiedAndHow)
{
    const struct {
        const char *name;
        AgentState state;
        bool trayShown;
        QString shown;  // summary | body | first action's key; empty: nothing notified
    } rows[] = {
        {"a code", AgentStates::Pairing{"AB\nC1", kNow.addSecs(600)}, false,
         "Enter this code in the Fennimar app | AB\\nC1\nExpires in 10 minutes. | copy"},
        {"a code while the tray icon is on screen", AgentStates::Pairing{"ABC123", kNow.addSecs(600)}, true, ""},
        {"pairing failed with a server's text", AgentStates::Failed{"Server returned 500: <a href='x'>y</a>"}, false,
         "Pairing failed | Fennimar could not pair this computer.\nTo see why: fennimar-agent --status\nTo try again: "
         "fennimar-agent --pair | pair"},
        {"unpairing failed", AgentStates::Failed{"Could not remove the stored pairing: locked.", true}, false,
         "Unpairing failed | Fennimar could not remove its stored pairing: this computer is still paired.\nTo see "
         "why: fennimar-agent --status\nTo try again: fennimar-agent --unpair | unpair"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        RecordingNotifier notifier;
        MenuReadings r = paired();
        r.state = row.state;
        NoticeBoard board(
            notifier, [&] { return r; }, [&] { return row.trayShown; }, {}, {});
        board.refresh();
        QStringList shown;
        for (const Notice &n : notifier.shown)
            shown << n.summary + " | " + n.body + " | " + (n.actions.empty() ? QString() : n.actions.front().first);
        EXPECT_EQ(shown.join("\n---\n").toStdString(), row.shown.toStdString());
    }
}

TEST(MenuBarController, DurationsAndTimesAsTheMenuSaysThem)
{
    const std::pair<qint64, const char *> minutes[] = {{59, "59s"},      {60, "1 min"},      {3599, "59 min"},
                                                       {3600, "1h 00m"}, {90061, "25h 01m"}, {-5, "-5s"}};
    for (const auto &[seconds, text] : minutes)
        EXPECT_EQ(MenuTexts::minutes(seconds), text) << seconds;
    const std::pair<qint64, const char *> times[] = {
        {-179'000, "2 minutes ago"}, {1'000, "in 1 second"},           {-400, "0 seconds ago"},
        {-3600'000, "1 hour ago"},   {-8 * 86400'000LL, "1 week ago"}, {-800 * 86400'000LL, "2 years ago"},
    };
    for (const auto &[millis, text] : times)
        EXPECT_EQ(MenuTexts::relativeTime(kNow.addMSecs(millis), kNow), text) << millis;
    EXPECT_EQ(MenuTexts::spaced(QString::fromUtf8("A\xF0\x9F\x98\x80") + "B"),
              QString::fromUtf8("A \xF0\x9F\x98\x80 B"));
}

}  // namespace
