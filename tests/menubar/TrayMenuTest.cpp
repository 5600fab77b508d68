#include "TrayTestSupport.h"
#include "tests/support/LogCapture.h"

#include "platform/VirtualClock.h"

#include <QClipboard>
#include <QFontInfo>
#include <QImage>
#include <QSystemTrayIcon>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace fennimar;
using namespace fennimar::test;

namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc());

AgentState pairingState()
{
    return AgentStates::Pairing{"ABC123", kNow.addSecs(600)};
}

AgentState pairedState(const QString &child = QStringLiteral("Mia"))
{
    return AgentStates::Paired{PairedIdentity{"dev-1", "child-1", child, "token", kNow}};
}

struct TrayFixture : testing::Test {
    VirtualClock clock;
    MenuReadings readings;
    std::map<QString, int> calls;
    std::unique_ptr<TrayMenu> tray;

    void SetUp() override
    {
        readings.now = kNow;
        readings.userName = "mia";
        const auto count = [this](const char *name) { return [this, name] { ++calls[name]; }; };
        MenuActions actions{count("pair"), count("cancel"),  count("unpair"),
                            count("quit"), count("website"), count("login")};
        QApplication::setQuitOnLastWindowClosed(true);
        tray = std::make_unique<TrayMenu>(
            clock, [this] { return readings; }, actions);
        // Otherwise answering the unpair question, the agent's only window, would end the agent.
        EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    }
    void open()
    {
        tray->menu()->popup(QPoint(10, 10));
        ASSERT_TRUE(waitFor([&] { return tray->menu()->isVisible(); }));
    }
    void close() { tray->menu()->hide(); }
    QAction *find(const QString &text)
    {
        for (QAction *a : tray->menu()->actions())
            if (a->text() == text)
                return a;
        return nullptr;
    }
};

TEST_F(TrayFixture, RendersEachKindOfEntry)
{
    readings.state = pairingState();
    open();
    EXPECT_EQ(menuTexts(*tray->menu()), expectedTexts(readings));
    const QList<QAction *> items = tray->menu()->actions();
    QAction *label = items[0], *code = items[1], *expires = items[2];
    EXPECT_FALSE(label->isEnabled());
    EXPECT_TRUE(code->isEnabled());
    EXPECT_EQ(code->text(), "   A B C 1 2 3");
    EXPECT_EQ(code->toolTip(), "Click to copy");
    EXPECT_TRUE(QFontInfo(code->font()).fixedPitch());
    EXPECT_FALSE(expires->isEnabled());
    EXPECT_LT(expires->font().pointSizeF(), label->font().pointSizeF());
    close();

    // Names and errors arrive from outside; an "&" in them is shown, not made a mnemonic.
    readings.state = pairedState("Tom & Mia");
    open();
    EXPECT_EQ(tray->menu()->actions().value(0)->text(), "Counting for Tom && Mia");
    EXPECT_EQ(menuTexts(*tray->menu()), expectedTexts(readings));
    close();
}

TEST_F(TrayFixture, RebuildsOnEachOpeningButNeverWhileOpen)
{
    open();
    const QStringList unpaired = menuTexts(*tray->menu());
    readings.state = AgentStates::Failed{"The code expired."};
    QApplication::processEvents();
    EXPECT_EQ(menuTexts(*tray->menu()), unpaired);
    close();
    open();
    EXPECT_EQ(menuTexts(*tray->menu()), expectedTexts(readings));
    EXPECT_EQ(menuTexts(*tray->menu()).first(), "Something went wrong");
    close();
}

TEST_F(TrayFixture, CopiesOnlyACodeStillOffered)
{
    readings.state = pairingState();
    open();
    find("   A B C 1 2 3")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "ABC123");

    // Opened while pairing, clicked after the pairing ended: nothing is copied.
    QApplication::clipboard()->setText("something else");
    readings.state = pairedState();
    find("   A B C 1 2 3")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "something else");
    close();
}

TEST_F(TrayFixture, EntriesCallTheirActions)
{
    const struct {
        AgentState state;
        const char *entry;
        const char *call;
    } cases[] = {
        {AgentStates::Unpaired{}, "Pair this computer…", "pair"},
        {AgentStates::Failed{"x"}, "Try again", "pair"},
        {pairingState(), "Cancel", "cancel"},
        {pairingState(), "Quit Fennimar", "quit"},
        {pairedState(), "Turn on website counting…", "website"},
        {pairedState(), "Won't restart on its own — fix…", "login"},
    };
    readings.monitored = MonitoredReading{0, 1, std::nullopt};
    for (const auto &c : cases) {
        calls.clear();
        readings.state = c.state;
        open();
        ASSERT_NE(find(c.entry), nullptr) << c.entry;
        find(c.entry)->trigger();
        close();
        EXPECT_EQ(calls, (std::map<QString, int>{{c.call, 1}})) << c.entry;
    }
}

TEST_F(TrayFixture, UnpairOnlyAfterConfirmation)
{
    readings.state = pairedState();
    const std::pair<QString, int> answers[] = {{"Keep Paired", 0}, {"", 0}, {"Unpair", 1}};
    for (const auto &[answer, unpaired] : answers) {
        calls.clear();
        open();
        answerNextQuestion(tray.get(), answer);
        find("Unpair this computer…")->trigger();  // returns when the question is answered
        close();
        EXPECT_EQ(calls["unpair"], unpaired) << answer.toStdString();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST(TrayIcons, AreDrawnForEveryStateAndPanel)
{
    std::vector<QImage> seen;
    for (const MenuIcon icon : {MenuIcon::Outline, MenuIcon::Filled, MenuIcon::Alert}) {
        for (const bool dark : {false, true}) {
            const QImage image = TrayMenu::iconImage(icon, dark).pixmap(22, 22).toImage();
            ASSERT_FALSE(image.isNull());
            int inked = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    inked += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
            EXPECT_GT(inked, 40) << static_cast<int>(icon) << dark;
            for (const QImage &other : seen)
                EXPECT_NE(image, other);
            seen.push_back(image);
        }
    }
}

TEST(TrayHost, MissingHostIsReportedOnceAndLookedForOnTheClock)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "a tray host is present; this case needs none";
    VirtualClock clock;
    LogCapture err;
    TrayMenu tray(
        clock, [] { return MenuReadings{}; }, MenuActions{});
    clock.advance(std::chrono::minutes(2));
    const QString log = err.text();
    EXPECT_EQ(log.count("WARN "), 1) << log.toStdString();
    EXPECT_TRUE(log.contains("tray · no system tray host")) << log.toStdString();
    EXPECT_FALSE(tray.trayIcon()->isVisible());
    EXPECT_EQ(clock.pendingTimers(), 1u);
}

}  // namespace
