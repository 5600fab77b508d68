#include "platform/linux/inhibit/GnomeInhibitors.h"
#include "core/RealClock.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/inhibit/BusInhibitCalls.h"
#include "platform/linux/inhibit/KdeInhibitions.h"
#include "platform/linux/inhibit/WatchingDesktop.h"
#include "platform/linux/x11/X11Desktop.h"
#include "tests/fakes/Fakes.h"
#include "tests/support/TempHome.h"
#include "tests/platform/linux/LinuxTestSupport.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QLocalServer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include <xcb/xcb.h>

namespace fennimar::test {
namespace {

// A PolicyAgent entry: (who, why) up to Plasma 6.4, (what, who, why, mode, flags) from 6.5.
template <int N>
struct Entry {
    QStringList text = QStringList(N == 5 ? 4 : N, QString());  // the signature comes from a default one
};
template <int N>
QDBusArgument &operator<<(QDBusArgument &a, const Entry<N> &e)
{
    a.beginStructure();
    for (const QString &t : e.text)
        a << t;
    if (N == 5)
        a << 3u;  // active and allowed
    a.endStructure();
    return a;
}
template <int N>
const QDBusArgument &operator>>(const QDBusArgument &a, Entry<N> &)
{
    return a;
}

// A desktop service on a private bus answering (path, member) from a table; anything else gets an error.
class FakeService : public QDBusVirtualObject {
public:
    std::map<std::pair<QString, QString>, QVariantList> answers;
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override
    {
        const auto it = answers.find({m.path(), m.member()});
        return bus.send(it == answers.end() ? m.createErrorReply(QDBusError::InvalidArgs, "no")
                                            : m.createReply(it->second));
    }
    QString introspect(const QString &) const override { return {}; }
};

Inhibitor held(QString app, QString reason, bool screen, qint64 pid = 0)
{
    return {std::move(app), std::move(reason), screen, pid};
}

TEST(InhibitorTest, OnlyAVideoInhibitorOfTheFrontAppCounts)
{
    const RunningApp chromium{"chromium", 929, {}, {}}, firefox{"firefox-esr", 15791, {}, {}};
    const QString chromiumExe = "/usr/lib/chromium/chromium", snapChrome = "/snap/chromium/3/usr/lib/chromium/chrome";
    struct Case {
        const char *what;
        Inhibitor inhibitor;
        RunningApp front;
        QString executable;
        bool watching;
    };
    const Case cases[] = {
        {"chromium's video, by its path", held(chromiumExe, "Video Wake Lock", true), chromium, chromiumExe, true},
        {"the same behind firefox", held(chromiumExe, "Video Wake Lock", true), firefox, "/usr/bin/firefox-esr", false},
        {"suspend only", held(chromiumExe, "Video Wake Lock", false), chromium, chromiumExe, false},
        {"chromium's music", held(chromiumExe, "Playing audio", true), chromium, chromiumExe, false},
        {"firefox's music as an idle inhibitor", held("firefox-esr", "Playing audio", true), firefox, {}, false},
        {"firefox's video", held("firefox-esr", "Playing video", true), firefox, {}, true},
        {"vlc", held("vlc", "Playing some media.", true), {"vlc", 7, {}, {}}, "/usr/bin/vlc", true},
        {"snap firefox", held("firefox", "Playing video", true), {"firefox_firefox", 8, {}, {}}, {}, true},
        {"flatpak firefox", held("firefox", "Playing video", true), {"org.mozilla.firefox", 8, {}, {}}, {}, true},
        {"snap chromium by executable",
         held(snapChrome, "Video Wake Lock", true),
         {"chromium_chromium", 9, {}, {}},
         snapChrome,
         true},
        {"a desktop id", held("org.gnome.Totem.desktop", "Playing", true), {"org.gnome.Totem", 3, {}, {}}, {}, true},
        {"mutter names no app", held("mutter", "idle-inhibit", true), chromium, chromiumExe, false},
        {"pid of the front app", held("x", "y", true, 929), chromium, chromiumExe, true},
        {"pid of another app", held(chromiumExe, "Video Wake Lock", true, 930), chromium, chromiumExe, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(frontHoldsVideo({c.inhibitor}, c.front, c.executable), c.watching) << c.what;
}

// Hyprland's active window inhibiting idle is watching for its pid; each step changes the answer.
TEST(InhibitorTest, HyprlandsActiveWindowInhibitsForItsPid)
{
    QTemporaryDir dir;
    QLocalServer hyprland;
    ASSERT_TRUE(hyprland.listen(dir.filePath(".socket.sock")));
    QByteArray reply;
    QObject::connect(&hyprland, &QLocalServer::newConnection, [&] {
        QLocalSocket *client = hyprland.nextPendingConnection();
        QObject::connect(client, &QLocalSocket::readyRead, client, [&reply, client] {
            client->write(client->readAll() == "j/activewindow" ? reply : QByteArray());
            client->disconnectFromServer();
        });
    });
    WatchingDesktop desktop(std::make_unique<FakeDesktop>(), QDBusConnection(QString()), QDBusConnection(QString()),
                            nullptr, hyprland.fullServerName());
    const RunningApp mpv{"mpv", 929, {}, {}};
    for (const auto &[pid, inhibits, watching] :
         {std::tuple{929, "true", true}, {929, "false", false}, {929, "true", true}, {930, "true", false}}) {
        reply = QStringLiteral(R"({"pid": %1, "inhibitingIdle": %2})").arg(pid).arg(inhibits).toUtf8();
        const auto answered = [&, w = watching] { return desktop.frontAppWatching(mpv) == w; };
        EXPECT_TRUE(waitUntil(answered, 5000, 50)) << reply.constData();
    }
}

constexpr auto kGnome = "org.gnome.SessionManager";
constexpr auto kAgent = "org.kde.Solid.PowerManagement.PolicyAgent";
constexpr auto kAgentPath = "/org/kde/Solid/PowerManagement/PolicyAgent";

TEST(InhibitorTest, GnomesListIsReadAgainAtEachChange)
{
    if (!missingTools({"dbus-daemon"}).isEmpty())
        GTEST_SKIP() << "SKIPPED: needs dbus-daemon (scripts/install-deps.sh)";
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    QDBusConnection server = bus.connect();
    FakeService manager;
    const QString root = "/org/gnome/SessionManager", one = root + "/Inhibitor1", two = root + "/Inhibitor2";
    const auto paths = [](QList<QDBusObjectPath> p) { return QVariantList{QVariant::fromValue(p)}; };
    manager.answers = {
        {{root, "GetInhibitors"}, paths({QDBusObjectPath(one), QDBusObjectPath(two), QDBusObjectPath(root + "/X")})},
        {{one, "GetAppId"}, {"/usr/lib/chromium/chromium"}},
        {{one, "GetReason"}, {"Video Wake Lock"}},
        {{one, "GetFlags"}, {8u}},
        {{two, "GetAppId"}, {"firefox-esr"}},
        {{two, "GetReason"}, {"Playing audio"}},
        {{two, "GetFlags"}, {12u}},
        {{root + "/X", "GetAppId"}, {"released"}},  // gone before its reason was asked
    };
    ASSERT_TRUE(server.registerVirtualObject(root, &manager, QDBusConnection::SubPath));
    ASSERT_TRUE(server.registerService(kGnome));
    GnomeInhibitors gnome(bus.connect());
    const std::vector<Inhibitor> both{held("/usr/lib/chromium/chromium", "Video Wake Lock", true),
                                      held("firefox-esr", "Playing audio", true)};
    EXPECT_TRUE(waitUntil([&] { return gnome.inhibitors() == both; }));
    manager.answers[{root, "GetInhibitors"}] = paths({QDBusObjectPath(two)});
    manager.answers[{two, "GetFlags"}] = QVariantList{4u};
    server.send(QDBusMessage::createSignal(root, kGnome, "InhibitorRemoved")
                << QVariant::fromValue(QDBusObjectPath(one)));
    EXPECT_TRUE(
        waitUntil([&] { return gnome.inhibitors() == std::vector{held("firefox-esr", "Playing audio", false)}; }));
    server.unregisterService(kGnome);
    EXPECT_TRUE(waitUntil([&] { return gnome.inhibitors().empty(); }));
}

// The caller's pid behind an inhibitor comes from watching the bus, while the caller stays on it.
TEST(InhibitorTest, TheCallersOfInhibitAreSeenOnTheBus)
{
    if (!missingTools({"dbus-daemon"}).isEmpty())
        GTEST_SKIP() << "SKIPPED: needs dbus-daemon (scripts/install-deps.sh)";
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    BusInhibitCalls calls(bus.connect(), bus.connect());
    QDBusConnection saver = bus.connect(), player = bus.connect();
    FakeService service;
    service.answers[{"/ScreenSaver", "Inhibit"}] = {7u};
    ASSERT_TRUE(saver.registerVirtualObject("/ScreenSaver", &service));
    ASSERT_TRUE(saver.registerService("org.freedesktop.ScreenSaver"));
    auto inhibit = QDBusMessage::createMethodCall("org.freedesktop.ScreenSaver", "/ScreenSaver",
                                                  "org.freedesktop.ScreenSaver", "Inhibit");
    inhibit << "firefox-esr"
            << "Playing video";
    const QSet<qint64> me{QCoreApplication::applicationPid()};
    EXPECT_TRUE(waitUntil([&] {  // a call each try, until the monitor is in place
        player.send(inhibit);
        return waitUntil([&] { return calls.callers("firefox-esr", "Playing video") == me; }, 300);
    }));
    EXPECT_TRUE(calls.callers("firefox-esr", "Playing audio").isEmpty());
    QDBusConnection::disconnectFromBus(player.name());
    player = QDBusConnection(QString());  // the last handle: the player leaves the bus
    EXPECT_TRUE(waitUntil([&] { return calls.callers("firefox-esr", "Playing video").isEmpty(); }));
}

// Plasma up to 6.4 answers ListInhibitions as a(ss), 6.5 as aas and offers ActiveInhibitions.
TEST(InhibitorTest, PlasmasInhibitionsAreReadInEachOfTheirShapes)
{
    if (!missingTools({"dbus-daemon"}).isEmpty())
        GTEST_SKIP() << "SKIPPED: needs dbus-daemon (scripts/install-deps.sh)";
    qDBusRegisterMetaType<Entry<2>>(), qDBusRegisterMetaType<QList<Entry<2>>>();
    qDBusRegisterMetaType<Entry<5>>(), qDBusRegisterMetaType<QList<Entry<5>>>();
    qDBusRegisterMetaType<QList<QStringList>>();
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    QDBusConnection server = bus.connect();
    FakeService agent;
    ASSERT_TRUE(server.registerVirtualObject(kAgentPath, &agent));
    ASSERT_TRUE(server.registerService(kAgent));
    const QString chromium = "/usr/lib/chromium/chromium";
    const QList<Entry<5>> active{{{"idle", chromium, "Video Wake Lock", "block"}},
                                 {{"sleep", chromium, "Playing audio", "block"}}};
    const QList<Entry<2>> pairs{{{chromium, "Video Wake Lock"}}, {{"firefox", "Playing audio"}}};
    const QList<QStringList> aas{{chromium, "Video Wake Lock"}, {"firefox", "Playing audio"}};
    const std::vector<Inhibitor> listed{held(chromium, "Video Wake Lock", true),
                                        held("firefox", "Playing audio", true)};
    const std::vector<Inhibitor> activeHeld{held(chromium, "Video Wake Lock", true),
                                            held(chromium, "Playing audio", false)};
    struct Case {
        const char *what;
        QVariantList active, has, list;
        std::vector<Inhibitor> expected;
    };
    const Case cases[] = {
        {"6.4", {}, {true}, {QVariant::fromValue(pairs)}, listed},
        {"6.5 list", {}, {true}, {QVariant::fromValue(aas)}, listed},
        {"no screen inhibition", {}, {false}, {QVariant::fromValue(pairs)}, {}},
        {"6.5 active", {QVariant::fromValue(QDBusVariant(QVariant::fromValue(active)))}, {}, {}, activeHeld},
    };
    KdeInhibitions kde(bus.connect());
    for (const Case &c : cases) {
        agent.answers.clear();
        for (const auto &[member, reply] :
             {std::pair{"Get", c.active}, {"HasInhibition", c.has}, {"ListInhibitions", c.list}}) {
            if (!reply.isEmpty())
                agent.answers[{kAgentPath, member}] = reply;
        }
        server.send(QDBusMessage::createSignal(kAgentPath, kAgent, "InhibitionsChanged"));
        EXPECT_TRUE(waitUntil([&] { return kde.inhibitors() == c.expected; })) << c.what;
    }
}

// Players and resumes reset the X idle counter without input; that must not make an absent user present.
TEST(InhibitorTest, AnIdleCounterResetThatNoInputCausedIsNotInput)
{
    ScopedEnv noWayland{"WAYLAND_DISPLAY", ""}, x11Session{"XDG_SESSION_TYPE", "x11"};
    DesktopSession x;
    if (const QString why = x.start(); !why.isEmpty())
        GTEST_SKIP() << "SKIPPED: " << why.toStdString();
    RealClock clock;
    DesktopEntryCatalog catalog({{}, {}, {}});
    auto *x11 = new X11Desktop(clock, catalog, nullptr, x.display());
    WatchingDesktop desktop(std::unique_ptr<Desktop>(x11), QDBusConnection(QString()), QDBusConnection(QString()),
                            std::make_unique<X11RawInput>(clock, x.display()));
    ASSERT_TRUE(x.xdotool({"key", "shift"}));
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(99) < 1.0; }));
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(0) >= 2.0; }));
    xcb_connection_t *player = xcb_connect(x.display().constData(), nullptr);
    xcb_force_screen_saver(player, XCB_SCREEN_SAVER_RESET);
    std::free(xcb_get_input_focus_reply(player, xcb_get_input_focus(player), nullptr));  // a round trip
    EXPECT_LT(x11->secondsSinceInput().value_or(99), 1.0) << "the counter was reset";
    EXPECT_GE(desktop.secondsSinceInput().value_or(0), 1.5);
    xcb_disconnect(player);
    ASSERT_TRUE(x.xdotool({"click", "1"}));
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(99) < 1.0; }));
}

}  // namespace
}  // namespace fennimar::test
