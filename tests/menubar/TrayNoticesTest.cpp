// Runs only inside run-gui-test.sh: a real X server without a tray host (until the test starts
// trayer) and a private session bus, on which this file plays the notification server.
#include "TrayTestSupport.h"

#include "agent/MenuWiring.h"
#include "menubar/NoticeBoard.h"
#include "platform/LoginItem.h"
#include "platform/linux/DBusNotifier.h"
#include "tests/agent/AgentTestSupport.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QProcess>
#include <QSystemTrayIcon>

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

// A scripted org.freedesktop.Notifications on a connection of its own: records every Notify and
// answers with the replaced id, or a new one.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint id, replaces;
        QString summary, body;
        QStringList actions;
    };
    std::vector<Shown> shown;

    NotificationServer() : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server")))
    {
        m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots);
        m_registered = m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~NotificationServer() override { QDBusConnection::disconnectFromBus(QStringLiteral("server")); }
    bool registered() const { return m_registered; }

public Q_SLOTS:
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        const uint id = replaces ? replaces : m_next++;
        shown.push_back({id, replaces, summary, body, actions});
        return id;
    }
    void CloseNotification(uint) {}
    QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("actions")}; }

private:
    QDBusConnection m_bus;
    bool m_registered = false;
    uint m_next = 1;
};

const char *claimed =
    R"({"claimed":true,"expired":false,"device_id":"dev-1","child_id":"c-9","child_session_token":"s3cret","child":{"name":"Robin"}})";

// The agent on fakes and a loopback backend, with the tray, the notices and the real D-Bus
// notifier wired as the application wires them.
class TrayNotices : public AgentFixture {
protected:
    NotificationServer notifications;
    std::unique_ptr<LoginItem> loginItem;
    std::unique_ptr<MenuWiring> wiring;
    std::unique_ptr<TrayMenu> tray;
    std::unique_ptr<DBusNotifier> notifier;
    std::unique_ptr<NoticeBoard> notices;

    void SetUp() override
    {
        if (QGuiApplication::platformName() != QStringLiteral("xcb") ||
            !qEnvironmentVariableIsSet("FENNIMAR_GUI_SESSION"))
            GTEST_SKIP() << "SKIPPED: needs the X session that run-gui-test.sh sets up";
        ASSERT_TRUE(notifications.registered());
        server.respond(QStringLiteral("/api/devices/setup-pending"),
                       Response::json(ticketJson("ABC234", "2026-03-14T09:10:00.000Z")));
        server.respond(QStringLiteral("/api/devices/setup-status/tok-1"),
                       Response::json(R"({"claimed":false,"expired":false})"));
    }
    ~TrayNotices() override
    {
        if (agent)
            agent->onChange = nullptr;
        notices.reset();
        tray.reset();
    }

    void start()
    {
        makeAgent();
        loginItem = std::make_unique<LoginItem>(*platform.login, QStringLiteral("1.0.0+1"));
        wiring = std::make_unique<MenuWiring>(*agent, platform, *loginItem, clock);
        const auto readings = [this] { return wiring->readings(); };
        tray = std::make_unique<TrayMenu>(clock, readings, wiring->actions({}));
        notifier = std::make_unique<DBusNotifier>(QDBusConnection::sessionBus());
        notices = std::make_unique<NoticeBoard>(
            *notifier, readings, [this] { return tray->iconShown(); }, [](const QString &) {}, MenuActions{});
        agent->onChange = [this] {
            tray->refreshIcon();
            notices->refresh();
        };
        agent->start();
    }

    bool shownCount(std::size_t n)
    {
        return waitFor([&] { return notifications.shown.size() >= n; });
    }
};

TEST_F(TrayNotices, WithoutATrayHostThePairingAndWhatToFixArriveAsOneNotificationPerChange)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    start();
    ASSERT_TRUE(shownCount(1));
    const NotificationServer::Shown code = notifications.shown[0];
    EXPECT_EQ(code.replaces, 0u);
    EXPECT_EQ(code.summary, QStringLiteral("Enter this code in the Fennimar app"));
    EXPECT_EQ(code.body, QStringLiteral("ABC234\nExpires in 10 minutes."));
    EXPECT_EQ(code.actions, QStringList({"copy", "Copy code"}));

    server.respond(QStringLiteral("/api/devices/setup-status/tok-1"), Response::json(claimed));
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 4s, 500ms));
    // The claim, then the heartbeat's change: the login item (not registered here) needs fixing.
    ASSERT_TRUE(shownCount(3));
    EXPECT_EQ(notifications.shown[1].replaces, code.id);
    EXPECT_EQ(notifications.shown[1].summary, QStringLiteral("Paired with Robin"));
    EXPECT_EQ(notifications.shown[2].replaces, 0u);
    EXPECT_EQ(notifications.shown[2].summary, QStringLiteral("Won't restart on its own — fix…"));
    advance(60s, 5s);  // four more heartbeats, nothing new to say
    pump(100ms);
    EXPECT_EQ(notifications.shown.size(), 3u);

    server.respond(QStringLiteral("/api/devices/setup-status/tok-1"),
                   Response::json(R"({"claimed":false,"expired":true})"));
    agent->beginPairing();
    ASSERT_TRUE(shownCount(5));
    EXPECT_EQ(notifications.shown[3].replaces, code.id);
    EXPECT_EQ(notifications.shown[3].summary, QStringLiteral("Enter this code in the Fennimar app"));
    EXPECT_EQ(notifications.shown[4].replaces, code.id);
    EXPECT_EQ(notifications.shown[4].summary, QStringLiteral("Pairing failed"));
    EXPECT_TRUE(notifications.shown[4].body.startsWith(QStringLiteral("That code expired. Ask for a new one.")));
}

TEST_F(TrayNotices, WithATrayHostNothingIsNotified)
{
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"), {"--edge", "top", "--SetDockType", "true"});
    ASSERT_TRUE(trayer.waitForStarted(5000));
    ASSERT_TRUE(fennimar::test::waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 15000));
    start();
    ASSERT_TRUE(waitFor([&] { return tray->iconShown(); }));
    ASSERT_TRUE(waitFor([&] { return stateAs<AgentStates::Pairing>() != nullptr; }));
    server.respond(QStringLiteral("/api/devices/setup-status/tok-1"), Response::json(claimed));
    ASSERT_TRUE(advanceUntil([&] { return stateAs<AgentStates::Paired>() != nullptr; }, 4s, 500ms));
    advance(30s, 5s);
    pump(200ms);
    EXPECT_TRUE(notifications.shown.empty());
    trayer.terminate();
    trayer.waitForFinished(3000);
}

}  // namespace

#include "TrayNoticesTest.moc"
