#include "TrayTestSupport.h"

#include "menubar/AgentControl.h"
#include "menubar/MenuWiring.h"
#include "services/LoginItem.h"
#include "tests/agent/AgentTestSupport.h"

#include <QClipboard>

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

// The tray menu drawn from a real agent on fakes, talking to a scripted loopback backend.
class MenuWiringFixture : public AgentFixture {
protected:
    std::unique_ptr<LoginItem> loginItem;
    std::unique_ptr<MenuWiring> wiring;
    std::unique_ptr<TrayMenu> tray;
    int quits = 0;
    ~MenuWiringFixture() override
    {
        if (agent)
            agent->onChange = nullptr;
        tray.reset();
    }

    void startWithMenu()
    {
        makeAgent();
        loginItem = std::make_unique<LoginItem>(*platform.login, QStringLiteral("1.0.0+1"));
        wiring = std::make_unique<MenuWiring>(*agent, platform, *loginItem, clock);
        tray = std::make_unique<TrayMenu>(
            clock, [this] { return wiring->readings(); }, wiring->actions([this] { ++quits; }));
        agent->onChange = [this] { tray->refreshIcon(); };
        agent->start();
    }
};

TEST_F(MenuWiringFixture, ShowsThePairCodeThenThePairedAgentAndUnpairsOnlyAfterConfirming)
{
    server.respond(QStringLiteral("/api/devices/setup-pending"),
                   Response::json(ticketJson("2026-03-14T09:10:00.000Z")));
    server.respond(QStringLiteral("/api/devices/setup-status/tok-1"),
                   Response::json(R"({"claimed":false,"expired":false})"));
    startWithMenu();
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
    EXPECT_EQ(openedTexts(*tray), expectedTexts(wiring->readings()));
    tray->menu()->actions().value(1)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("ABC234"));
    server.respond(
        QStringLiteral("/api/devices/setup-status/tok-1"),
        Response::json(
            R"({"claimed":true,"expired":false,"device_id":"dev-1","child_id":"c-9","child_session_token":"s3cret","child":{"name":"Robin & Kim"}})"));
    desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}};
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 4s, 500ms));
    ASSERT_TRUE(waitFor([&] { return agent->monitored() && agent->monitored()->lastFetch().has_value(); }));
    advance(5s, 1s);
    // The code entry of the menu opened while pairing copies nothing once the pairing has ended.
    QApplication::clipboard()->setText(QStringLiteral("something else"));
    tray->menu()->actions().value(1)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("something else"));
    const MenuReadings now = wiring->readings();
    EXPECT_EQ(now.todaySeconds, 5);
    EXPECT_EQ(now.verdict.value_or(MenuVerdict::idle()).kind, MenuVerdict::Kind::Counting);
    const QStringList paired = openedTexts(*tray);
    EXPECT_EQ(paired, expectedTexts(now));
    EXPECT_EQ(paired.value(0), QStringLiteral("Counting for Robin && Kim")) << "a name's & is shown, not a mnemonic";
    EXPECT_TRUE(paired.contains(QStringLiteral("This computer: kids-pc (robin)")));
    ASSERT_TRUE(fennimar::test::choose(*tray, QStringLiteral("Unpair this computer…"), QStringLiteral("Keep Paired")));
    EXPECT_NE(stateAs<AgentStates::Paired>(), nullptr) << "keeping the pairing changes nothing";
    EXPECT_EQ(secrets->secrets.size(), 1u);
    ASSERT_TRUE(fennimar::test::choose(*tray, QStringLiteral("Unpair this computer…"), QStringLiteral("Unpair")));
    ASSERT_TRUE(waitFor([&] { return secrets->secrets.empty(); }));
    EXPECT_NE(stateAs<AgentStates::Unpaired>(), nullptr);
    ASSERT_TRUE(fennimar::test::choose(*tray, QStringLiteral("Quit Fennimar")));
    EXPECT_EQ(quits, 1);
}

// The command line hears its own request's outcome (a refusal or failure exits non-zero), never a stale state.
TEST_F(MenuWiringFixture, EachCommandIsAnsweredWithItsOwnOutcome)
{
    const QString ticket = QStringLiteral("/api/devices/setup-pending"),
                  status = QStringLiteral("/api/devices/setup-status/tok-1");
    server.respondOnce(ticket, Response::text(500, "down"));
    Response slowTicket = Response::json(ticketJson("2026-03-14T09:10:00.000Z"));
    slowTicket.delay = 300ms;
    server.respond(ticket, slowTicket);
    server.respond(status, Response::json(R"({"claimed":false,"expired":false})"));
    startWithMenu();
    AgentControl control(*agent, clock, [this] { return wiring->readings(); });
    agent->onChange = [&] { control.agentChanged(); };
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Failed>() != nullptr; }));
    const struct {
        const char *name;
        ControlCommand command;
        std::function<void()> before;
        bool ok;
        QString text;  // the answer's start
    } rows[] = {
        {"pair after a failure: the new code, not the old failure", ControlCommand::Pair,
         [&] { control.agentChanged(); }, true, "Enter this code in the Fennimar app\n  ABC234"},
        {"pair while pairing", ControlCommand::Pair, {}, false, "A pair code is already being shown. Cancel it first."},
        {"cancel", ControlCommand::CancelPairing, {}, true, "Fennimar isn't set up yet"},
        {"pair while paired", ControlCommand::Pair,
         [&] {
             server.respond(status, Response::json(R"({"claimed":true,"expired":false,"child_id":"c",)"
                                                   R"("child_session_token":"t","child":{"name":"Robin"}})"));
             agent->beginPairing();
             advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 10s, 1s);
         },
         false, "This computer is already paired with Robin. Unpair it first."},
        {"unpair refused by the store", ControlCommand::Unpair, [&] { secrets->locked = true; }, false,
         "Something went wrong\n  Could not remove the stored pairing: the secret store is locked."},
        {"unpair again", ControlCommand::Unpair, [&] { secrets->locked = false; }, true, "Fennimar isn't set up yet"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.before)
            row.before();
        std::optional<Result<QString>> answer;
        control.handle(row.command, [&](const Result<QString> &a) { answer = a; });
        if (row.command == ControlCommand::Pair && row.ok) {
            control.agentChanged();  // a heartbeat's redraw settles nothing
            EXPECT_FALSE(answer.has_value());
        }
        ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
        EXPECT_EQ(answer->ok(), row.ok);
        const QString text = answer->ok() ? **answer : answer->error();
        EXPECT_TRUE(text.startsWith(row.text)) << text.toStdString();
    }
    EXPECT_TRUE(secrets->secrets.empty());
}

}  // namespace
