#include "platform/linux/inhibit/GnomeInhibitors.h"
#include "core/RealClock.h"
#include "core/VirtualClock.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/inhibit/BusInhibitCalls.h"
#include "platform/linux/inhibit/KdeInhibitions.h"
#include "platform/linux/inhibit/WatchingDesktop.h"
#include "platform/linux/session/ScreenLockMonitor.h"
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
    const RunningApp vlc{"vlc", 7, {}, {}}, flatpak{"org.mozilla.firefox", 8, {}, {}};
    const QString film = "https://www.youtube.com/watch?v=1";
    const Inhibitor vlcFilm = held("vlc", "Playing some media.", true),
                    firefoxFilm = held("firefox", "Playing video", true);
    struct Case {
        const char *what;
        Inhibitor inhibitor;
        RunningApp front;
        QString executable;
        bool watching;
        std::vector<MediaPlayer> players = {};
        QString page = {};  // the focused one
    };
    const Case cases[] = {
        {"chromium's video, by its path", held(chromiumExe, "Video Wake Lock", true), chromium, chromiumExe, true},
        {"the same behind firefox", held(chromiumExe, "Video Wake Lock", true), firefox, "/usr/bin/firefox-esr", false},
        {"suspend only", held(chromiumExe, "Video Wake Lock", false), chromium, chromiumExe, false},
        {"firefox's music as an idle inhibitor", held("firefox-esr", "Playing audio", true), firefox, {}, false},
        {"firefox's video", held("firefox-esr", "Playing video", true), firefox, {}, true},
        {"vlc", vlcFilm, vlc, "/usr/bin/vlc", true},
        {"snap firefox", firefoxFilm, {"firefox_firefox", 8, {}, {}}, {}, true},
        {"flatpak firefox", firefoxFilm, flatpak, {}, true},
        {"snap chrome", held(snapChrome, "Video Wake Lock", true), {"chromium_chromium", 9, {}, {}}, snapChrome, true},
        {"totem", held("org.gnome.Totem.desktop", "Playing a movie", true), {"org.gnome.Totem", 3, {}, {}}, {}, true},
        {"an SDL game", held("supertuxkart", "Playing a game", true), {"supertuxkart", 5, {}, {}}, {}, false},
        {"a page's wake lock", held(chromiumExe, "Wake Lock API", true), chromium, chromiumExe, false},
        {"mutter names no app", held("mutter", "idle-inhibit", true), chromium, chromiumExe, false},
        {"pid of the front app", held("x", "Playing video", true, 929), chromium, chromiumExe, true},
        {"pid of another app", held(chromiumExe, "Video Wake Lock", true, 930), chromium, chromiumExe, false},
        {"vlc paused", vlcFilm, vlc, {}, false, {{"vlc", 7, false, false, {}}}},
        {"another vlc's pause", vlcFilm, vlc, {}, true, {{"vlc", 8, false, false, {}}}},
        {"a flatpak's pause", firefoxFilm, flatpak, {}, false, {{"firefox", 9, true, false, {}}}},
        {"a film in another page", firefoxFilm, flatpak, {}, false, {{"firefox", 8, 0, 1, film}}, "a.example"},
        {"the film in the page", firefoxFilm, flatpak, {}, true, {{"firefox", 8, 0, 1, film}}, "youtube.com/x"},
        {"a player naming no page", firefoxFilm, flatpak, {}, true, {{"firefox", 8, 0, 1, {}}}, "a.example"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(frontHoldsVideo({c.inhibitor}, c.front, c.executable) &&
                      !playersDenyFilm(c.players, c.front, c.executable, c.page),
                  c.watching)
            << c.what;
    }
}

// Hyprland's active window inhibiting idle is watching for its pid; each step changes the answer.
// A game is never watching, whoever says it inhibits.
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
    auto *sway = new FakeDesktop;  // the wrapped desktop's own answer
    RealClock clock;
    WatchingDesktop desktop(clock, std::unique_ptr<Desktop>(sway), QDBusConnection(QString()),
                            QDBusConnection(QString()), nullptr, hyprland.fullServerName());
    const RunningApp mpv{"mpv", 929, {}, {}};
    for (const auto &[pid, inhibits, watching] :
         {std::tuple{929, "true", true}, {929, "false", false}, {929, "true", true}, {930, "true", false}}) {
        reply = QStringLiteral(R"({"pid": %1, "inhibitingIdle": %2})").arg(pid).arg(inhibits).toUtf8();
        const auto answered = [&, w = watching] { return desktop.frontAppWatching(mpv) == w; };
        EXPECT_TRUE(waitUntil(answered, 5000, 50)) << reply.constData();
    }
    ASSERT_TRUE(writeFile(dir.filePath("game.desktop"), "[Desktop Entry]\nCategories=Game;ArcadeGame;\n"));
    sway->inhibitorPid = 929;
    EXPECT_TRUE(desktop.frontAppWatching(mpv));
    EXPECT_FALSE(desktop.frontAppWatching({"supertuxkart", 929, {}, dir.filePath("game.desktop")}));
}

constexpr auto kGnome = "org.gnome.SessionManager";
constexpr auto kAgent = "org.kde.Solid.PowerManagement.PolicyAgent";
constexpr auto kAgentPath = "/org/kde/Solid/PowerManagement/PolicyAgent";

TEST(InhibitorTest, GnomesListIsReadAgainAtEachChange)
{
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
    // Mutter restarts its idle time when the last idle inhibitor goes; that is not input, later input is.
    VirtualClock clock;
    double mutterIdle = 100;
    auto *mutter = new FakeDesktop;
    mutter->idle = [&] { return std::optional(mutterIdle); };
    WatchingDesktop desktop(clock, std::unique_ptr<Desktop>(mutter), bus.connect(), QDBusConnection(QString()));
    EXPECT_TRUE(waitUntil([&] { return desktop.frontAppWatching({"chromium", 0, {}, {}}); }));
    // A player of the front app (by pid, else by name) that says it does not play takes the film away.
    FakeService player;
    QDBusConnection playerBus = bus.connect();
    ASSERT_TRUE(playerBus.registerVirtualObject("/org/mpris/MediaPlayer2", &player));
    ASSERT_TRUE(playerBus.registerService("org.mpris.MediaPlayer2.chromium.instance7"));
    const qint64 me = QCoreApplication::applicationPid();
    // Its film playing in another page than the one read in front since it came there, too.
    auto *reader = new FakeAccessibility;
    reader->addresses[me] = AddressOutcome::url("https://school.example/");
    PageMemory pages(clock, std::unique_ptr<Accessibility>(reader));
    desktop.setFocusedPage(pages.lastRead());
    pages.readAddress(me);  // before it came to the front: another window's
    clock.advance(Millis(1)), mutter->front = RunningApp{"chromium", me, {}, {}};
    desktop.frontmostApp();
    // Each step's answer differs from the one the step before leaves until the players are listed again.
    const QString film = "https://film.example/";
    const std::tuple<const char *, qint64, QString, const char *, bool> steps[] = {
        {"Paused", me, "", nullptr, false},
        {"Playing", me, film, nullptr, true},
        {"Paused", me + 1, "", "school.example", true},
        {"Playing", me, film, "school.example", false},
        {"Playing", me, film, "", true},
        {"Stopped", 0, "", "school.example", false}};
    for (const auto &[status, pid, url, read, watching] : steps) {
        player.answers[{"/org/mpris/MediaPlayer2", "GetAll"}] = {
            QVariantMap{{"PlaybackStatus", status}, {"Metadata", QVariantMap{{"xesam:url", url}}}}};
        clock.advance(Millis(3000));
        if (read) {  // a read that gives no address forgets the page
            reader->addresses[me] = *read ? AddressOutcome::url(read) : AddressOutcome::editing();
            pages.readAddress(me);
        }
        const auto answered = [&] { return desktop.frontAppWatching({"chromium", pid, {}, {}}) == watching; };
        EXPECT_TRUE(waitUntil(answered)) << status << pid << url.toStdString();
    }
    EXPECT_EQ(desktop.secondsSinceInput(), 100);
    manager.answers[{root, "GetInhibitors"}] = paths({QDBusObjectPath(two)});
    manager.answers[{two, "GetFlags"}] = QVariantList{4u};
    server.send(QDBusMessage::createSignal(root, kGnome, "InhibitorRemoved")
                << QVariant::fromValue(QDBusObjectPath(one)));
    clock.advance(Millis(1000)), mutterIdle = 0;
    EXPECT_TRUE(
        waitUntil([&] { return gnome.inhibitors() == std::vector{held("firefox-esr", "Playing audio", false)}; }));
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput() == 101; }));
    clock.advance(Millis(5000)), mutterIdle = 5;
    EXPECT_EQ(desktop.secondsSinceInput(), 106);
    clock.advance(Millis(5000)), mutterIdle = 0;
    EXPECT_EQ(desktop.secondsSinceInput(), 0);
    // So does it at a resume, a lid opened, the power cable plugged or pulled; the input after each is input.
    desktop.watchSystemResets(bus.connect());
    ASSERT_TRUE(server.registerService("org.freedesktop.login1") && server.registerService("org.freedesktop.UPower"));
    const auto upower = [](const char *property, bool value) {
        return QDBusMessage::createSignal("/org/freedesktop/UPower", "org.freedesktop.DBus.Properties",
                                          "PropertiesChanged")
               << "org.freedesktop.UPower" << QVariantMap{{property, value}} << QStringList();
    };
    for (const QDBusMessage &reset :
         {QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep")
              << false,
          upower("LidIsClosed", false), upower("OnBattery", true)}) {
        clock.advance(Millis(30000)), mutterIdle = 30;
        EXPECT_EQ(desktop.secondsSinceInput(), 30);
        server.send(reset);
        clock.advance(Millis(1000)), mutterIdle = 0;
        EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput() == 31; })) << reset.member().toStdString();
        clock.advance(Millis(5000));
        EXPECT_EQ(desktop.secondsSinceInput(), 0);
    }
    server.unregisterService(kGnome);
    EXPECT_TRUE(waitUntil([&] { return gnome.inhibitors().empty(); }));
}

// Where the compositor's idle protocol is quiet while an inhibitor is in view, the time since input is that since the
// input seen before it, or a window switch, until the count it restarts at the inhibitor's end falls behind. Steps:
// believed where the source sees input only or nothing is in view; a film in view, whose "active" is not input; a
// window switch, which is; the film ends: its restarted count; input.
TEST(InhibitorTest, InputHiddenByAnInhibitorInViewIsNotTakenForInput)
{
    VirtualClock clock;
    auto *compositor = new FakeDesktop;
    WatchingDesktop desktop(clock, std::unique_ptr<Desktop>(compositor), QDBusConnection(QString()),
                            QDBusConnection(QString()));
    std::optional<bool> inhibits;
    desktop.setIdleInhibition([&] { return inhibits; });
    const struct {
        double advance, idle, expected;
        qint64 front;
        std::optional<bool> inhibits;
    } steps[] = {{10, 10, 10, 1, std::nullopt}, {10, 10, 10, 1, false}, {50, 0, 60, 1, true},
                 {60, 0, 120, 1, true},         {1, 0, 0, 2, true},     {1, 0, 1, 2, false},
                 {5, 5, 6, 2, false},           {5, 0, 0, 2, false}};
    for (const auto &s : steps) {
        clock.advance(Millis(static_cast<qint64>(s.advance * 1000))), inhibits = s.inhibits;
        compositor->idleSeconds = s.idle, compositor->front = RunningApp{"foot", s.front, {}, {}};
        desktop.frontmostApp();
        EXPECT_EQ(desktop.secondsSinceInput(), s.expected) << clock.monotonic().count();
        EXPECT_EQ(desktop.inputHidden() && desktop.samplingProblem().contains("input cannot be seen"),
                  s.inhibits == true);
    }
}

// The inhibitors taken and released on the bus, with their callers' pids, while the callers stay on it.
TEST(InhibitorTest, TheInhibitorsTakenAreSeenOnTheBus)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    BusInhibitCalls calls(bus.connect(), bus.connect());
    QDBusConnection saver = bus.connect(), player = bus.connect(), probe = bus.connect();
    FakeService service;
    service.answers[{"/ScreenSaver", "Inhibit"}] = {7u};
    service.answers[{"/ScreenSaver", "UnInhibit"}] = {};
    ASSERT_TRUE(saver.registerVirtualObject("/ScreenSaver", &service));
    ASSERT_TRUE(saver.registerService("org.freedesktop.ScreenSaver"));
    const auto saverCall = [](const char *member, QVariantList args, const char *name = "org.freedesktop.ScreenSaver") {
        auto message = QDBusMessage::createMethodCall(name, "/ScreenSaver", name, member);
        return message.setArguments(args), message;
    };
    EXPECT_TRUE(waitUntil([&] {  // a call each try, until the monitor is in place
        probe.send(saverCall("Inhibit", {"probe", "x"}));
        return waitUntil([&] { return calls.seen("probe", "x"); }, 300);
    }));
    QDBusConnection::disconnectFromBus(probe.name());
    probe = QDBusConnection(QString());  // the last handle: the probe leaves the bus
    const qint64 me = QCoreApplication::applicationPid();
    const Inhibitor video = held("firefox-esr", "Playing video", true, me),
                    audio = held("firefox-esr", "Playing audio", true, me);
    struct Step {
        const char *what;
        std::vector<QDBusMessage> calls;
        std::vector<Inhibitor> held;
        bool videoSeen;
    };
    const Step steps[] = {
        {"a film", {saverCall("Inhibit", {"firefox-esr", "Playing video"})}, {video}, true},
        {"its sound", {saverCall("Inhibit", {"firefox-esr", "Playing audio"})}, {video, audio}, true},
        {"one released, which is unknown", {saverCall("UnInhibit", {7u})}, {}, true},
        {"both released", {saverCall("UnInhibit", {8u})}, {}, false},
        {"a film, and a call nobody answers",
         {saverCall("Inhibit", {"x", 0u, "Playing video", 8u}, kGnome),
          saverCall("Inhibit", {"firefox-esr", "Playing video"})},
         {video},
         true},
    };
    for (const Step &step : steps) {
        for (const QDBusMessage &message : step.calls)
            player.send(message);
        EXPECT_TRUE(waitUntil([&] {
            return calls.held() == step.held && calls.seen("firefox-esr", "Playing video") == step.videoSeen;
        })) << step.what;
    }
    QDBusConnection::disconnectFromBus(player.name());
    player = QDBusConnection(QString());  // the player leaves the bus
    EXPECT_TRUE(waitUntil([&] { return calls.held().empty() && !calls.seen("firefox-esr", "Playing video"); }));
}

// Plasma up to 6.4 answers ListInhibitions as a(ss), 6.5 as aas and offers ActiveInhibitions.
TEST(InhibitorTest, PlasmasInhibitionsAreReadInEachOfTheirShapes)
{
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

// Players and resumes reset the X idle counter without input; that must not make an absent user
// present, nor make a real lock look typed at.
TEST(InhibitorTest, AnIdleCounterResetThatNoInputCausedIsNotInput)
{
    DesktopSession x;
    ASSERT_EQ(x.start(), QString()) << "the X session did not start";
    RealClock clock;
    DesktopEntryCatalog catalog({{}, {}, {}});
    auto *x11 = new X11Desktop(clock, catalog, nullptr, x.display());
    WatchingDesktop desktop(clock, std::unique_ptr<Desktop>(x11), QDBusConnection(QString()),
                            QDBusConnection(QString()), std::make_unique<X11RawInput>(clock, x.display()));
    ASSERT_TRUE(x.xdotool({"key", "shift"}));
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(99) < 1.0; }));
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(0) >= 2.0; }));
    xcb_connection_t *player = xcb_connect(x.display().constData(), nullptr);
    xcb_force_screen_saver(player, XCB_SCREEN_SAVER_RESET);
    std::free(xcb_get_input_focus_reply(player, xcb_get_input_focus(player), nullptr));  // a round trip
    EXPECT_LT(x11->secondsSinceInput().value_or(99), 1.0) << "the counter was reset";
    EXPECT_GE(desktop.secondsSinceInput().value_or(0), 1.5);
    ASSERT_TRUE(x.xdotool({"click", "1"}));
    EXPECT_TRUE(waitUntil([&] { return desktop.secondsSinceInput().value_or(99) < 1.0; }));

    // Behind a real lock, a minute of such resets is not someone typing at it.
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    QDBusConnection server = bus.connect();
    FakeService saver;
    saver.answers[{"/org/freedesktop/ScreenSaver", "GetActive"}] = {true};
    ASSERT_TRUE(server.registerVirtualObject("/org/freedesktop/ScreenSaver", &saver));
    ASSERT_TRUE(server.registerService("org.freedesktop.ScreenSaver"));
    auto lock = std::make_unique<ScreenLockMonitor>(QDBusConnection(QString()), bus.connect(), "7", nullptr,
                                                    [](qint64) { return true; });
    ASSERT_TRUE(waitUntil([&] { return lock->locked(); }));
    VirtualClock virtualClock;
    X11Desktop lockedDesktop(virtualClock, catalog, std::move(lock), x.display());
    X11RawInput raw(virtualClock, x.display());
    lockedDesktop.setRawInput([&raw] { return raw.secondsSinceInput(); });
    for (int second = 0; second < 70; ++second, virtualClock.advance(Millis(1000))) {
        xcb_force_screen_saver(player, XCB_SCREEN_SAVER_RESET);
        std::free(xcb_get_input_focus_reply(player, xcb_get_input_focus(player), nullptr));
        EXPECT_TRUE(lockedDesktop.screenLocked()) << second;
    }
    xcb_disconnect(player);
}

}  // namespace
}  // namespace fennimar::test
