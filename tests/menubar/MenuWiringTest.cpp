#include "TrayTestSupport.h"

#include "agent/MenuWiring.h"
#include "platform/LoginItem.h"
#include "tests/agent/AgentTestSupport.h"

#include "platform/PlatformConstants.h"

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

// Accessibility whose trust a request may or may not grant, and that counts the settings it opens.
class GrantingAccessibility : public FakeAccessibility {
public:
    bool grantOnRequest = false;
    int settingsOpened = 0;
    void requestTrust() override
    {
        FakeAccessibility::requestTrust();
        trusted = trusted || grantOnRequest;
    }
    bool openSettings() override
    {
        ++settingsOpened;
        return true;
    }
};

// The tray menu drawn from a real agent on fakes, talking to a scripted loopback backend.
class MenuWiringFixture : public AgentFixture {
protected:
    GrantingAccessibility *granting = nullptr;
    std::unique_ptr<LoginItem> loginItem;
    std::unique_ptr<MenuWiring> wiring;
    std::unique_ptr<TrayMenu> tray;
    int quits = 0;

    MenuWiringFixture()
    {
        platform.accessibility = std::make_unique<GrantingAccessibility>();
        granting = static_cast<GrantingAccessibility *>(platform.accessibility.get());
        accessibility = granting;
    }
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
        agent->onChange = [this] {
            ++changes;
            tray->refreshIcon();
        };
        agent->start();
    }

    QStringList openedMenu()
    {
        tray->menu()->popup(QPoint(10, 10));
        EXPECT_TRUE(fennimar::test::waitFor([&] { return tray->menu()->isVisible(); }));
        const QStringList texts = menuTexts(*tray->menu());
        tray->menu()->hide();
        return texts;
    }

    // Opens the menu and chooses the entry with this text, answering the question that follows
    // with `answer` (when not empty) within a bounded wait.
    void choose(const QString &entry, const QString &answer = {})
    {
        tray->menu()->popup(QPoint(10, 10));
        ASSERT_TRUE(fennimar::test::waitFor([&] { return tray->menu()->isVisible(); }));
        QAction *found = nullptr;
        for (QAction *a : tray->menu()->actions())
            if (a->text() == entry)
                found = a;
        ASSERT_NE(found, nullptr) << entry.toStdString();
        if (!answer.isEmpty())
            answerNextQuestion(tray.get(), answer);
        tray->menu()->hide();
        found->trigger();
    }
};

TEST_F(MenuWiringFixture, ShowsThePairCodeThenThePairedAgentAndUnpairsOnlyAfterConfirming)
{
    server.respond(QStringLiteral("/api/devices/setup-pending"),
                   Response::json(ticketJson("ABC234", "2026-03-14T09:10:00.000Z")));
    server.respond(QStringLiteral("/api/devices/setup-status/tok-1"),
                   Response::json(R"({"claimed":false,"expired":false})"));
    startWithMenu();
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
    const QStringList pairing = openedMenu();
    ASSERT_GE(pairing.size(), 3);
    EXPECT_EQ(pairing[1], QStringLiteral("   A B C 2 3 4"));
    EXPECT_TRUE(pairing[2].startsWith(QStringLiteral("Expires in "))) << pairing[2].toStdString();

    server.respond(
        QStringLiteral("/api/devices/setup-status/tok-1"),
        Response::json(
            R"({"claimed":true,"expired":false,"device_id":"dev-1","child_id":"c-9","child_session_token":"s3cret","child":{"name":"Robin"}})"));
    desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}};
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 4s, 500ms));
    ASSERT_TRUE(waitFor([&] { return agent->monitored() && agent->monitored()->lastFetch().has_value(); }));
    advance(5s, 1s);

    const MenuReadings now = wiring->readings();
    EXPECT_GE(now.todaySeconds, 4);
    ASSERT_TRUE(now.verdict.has_value());
    EXPECT_EQ(now.verdict->kind, MenuVerdict::Kind::Counting);
    ASSERT_TRUE(now.monitored.has_value());
    EXPECT_EQ(now.monitored->appCount, 1);
    const QStringList paired = openedMenu();
    EXPECT_EQ(paired, expectedTexts(now));
    EXPECT_EQ(paired.value(0), QStringLiteral("Counting for Robin"));
    EXPECT_TRUE(paired.contains(QStringLiteral("This computer: kids-pc (robin)")));

    choose(QStringLiteral("Unpair this computer…"), QStringLiteral("Keep Paired"));
    EXPECT_NE(stateAs<AgentStates::Paired>(), nullptr) << "keeping the pairing changes nothing";
    EXPECT_EQ(secrets->secrets.size(), 1u);

    choose(QStringLiteral("Unpair this computer…"), QStringLiteral("Unpair"));
    ASSERT_TRUE(waitFor([&] { return secrets->secrets.empty(); }));
    EXPECT_NE(stateAs<AgentStates::Unpaired>(), nullptr);
    EXPECT_EQ(openedMenu().value(0), QStringLiteral("Fennimar isn't set up yet"));

    choose(QStringLiteral("Quit Fennimar"));
    EXPECT_EQ(quits, 1);
}

struct PermissionCase {
    const char *name;
    bool grantOnRequest;
    int settingsOpened;  // the desktop's settings open only when the request did not grant it
};

class MenuWiringPermission : public MenuWiringFixture, public ::testing::WithParamInterface<PermissionCase> {};

TEST_P(MenuWiringPermission, WebsiteCountingAndLoginItemEntriesReachThePlatform)
{
    storedIdentity();
    server.respond(QStringLiteral("/api/guard/my-installed-apps"),
                   Response::json(R"({"apps":[{"package_id":"web:example.com","is_blocked":true}]})"));
    granting->trusted = false;
    granting->grantOnRequest = GetParam().grantOnRequest;
    login->current = LoginService::Status::RequiresApproval;
    startWithMenu();
    ASSERT_TRUE(waitFor([&] { return agent->monitored() && agent->monitored()->lastFetch().has_value(); }));

    choose(QStringLiteral("Turn on website counting…"));
    EXPECT_EQ(granting->trustRequests, 1);
    EXPECT_EQ(granting->settingsOpened, GetParam().settingsOpened);
    EXPECT_EQ(wiring->readings().accessibilityTrusted, GetParam().grantOnRequest);

    choose(QStringLiteral("Won't restart on its own — fix…"));
    EXPECT_EQ(login->openSettingsCalls, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, MenuWiringPermission,
                         ::testing::Values(PermissionCase{"Granted", true, 0}, PermissionCase{"StillOff", false, 1}),
                         [](const auto &c) { return std::string(c.param.name); });

TEST(MenuWiringVerdict, KeepsEachKindWithItsSubjectAndReason)
{
    using V = ActivitySampler::Verdict;
    const std::pair<V, MenuVerdict> cases[] = {
        {V::counting(platform::appPrefix() + "xterm"), MenuVerdict::counting(platform::appPrefix() + "xterm")},
        {V::notMonitored("example.org"), MenuVerdict::notMonitored("example.org")},
        {V::browserNoPermission("firefox-esr"), MenuVerdict::browserNoPermission("firefox-esr")},
        {V::browserUnreadable("chromium", "no address found"),
         MenuVerdict::browserUnreadable("chromium", "no address found")},
        {V::idle(), MenuVerdict::idle()},
    };
    for (const auto &[from, to] : cases)
        EXPECT_EQ(MenuWiring::toMenuVerdict(from), to) << from.subject.toStdString();
}

}  // namespace
