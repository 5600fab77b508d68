#include "platform/PlatformPaths.h"
#include "platform/linux/ProgramFile.h"
#include "platform/linux/session/ScreenLockMonitor.h"
#include "tests/platform/linux/LinuxTestSupport.h"
#include "tests/support/TempHome.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace fennimar::test {
namespace {

class FakeSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    int calls = 0;
    bool active = false;
public Q_SLOTS:
    bool GetActive() { return ++calls, active; }
Q_SIGNALS:
    void ActiveChanged(bool active);
};

class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public Q_SLOTS:
    QDBusObjectPath GetSession(const QString &id) { return QDBusObjectPath("/org/freedesktop/login1/session/_3" + id); }
};

// logind's references: (so) a session or seat, (uo) a user.
using SessionRef = QPair<QString, QDBusObjectPath>;
using UserRef = QPair<uint, QDBusObjectPath>;

class FakeLogindSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool LockedHint MEMBER locked)
    Q_PROPERTY(bool Active MEMBER active)
    Q_PROPERTY(QString Type MEMBER type)
    Q_PROPERTY(fennimar::test::SessionRef Seat MEMBER seat)
    Q_PROPERTY(fennimar::test::UserRef User MEMBER user)
public:
    FakeLogindSession() { qDBusRegisterMetaType<SessionRef>(), qDBusRegisterMetaType<UserRef>(); }
    bool locked = true;
    bool active = true;
    QString type = "wayland";
    SessionRef seat{"", QDBusObjectPath("/")};
    UserRef user{0, QDBusObjectPath("/")};
};

// The user's display session, and the seat's session in front.
class FakeLogindUser : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.User")
    Q_PROPERTY(fennimar::test::SessionRef Display MEMBER ref)
public:
    SessionRef ref{"37", QDBusObjectPath("/org/freedesktop/login1/session/_37")};
};
class FakeSeat : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Seat")
    Q_PROPERTY(fennimar::test::SessionRef ActiveSession MEMBER ref)
public:
    SessionRef ref{"38", QDBusObjectPath("/org/freedesktop/login1/session/_38")};
};

constexpr auto kExport =
    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties;

bool selfIsDesktop(qint64 pid)
{
    return pid == QCoreApplication::applicationPid();
}

// logind's session and the desktop's screen saver are believed; another name holder or a lock under input is not.
TEST(ScreenLockMonitorTest, BelievesOnlyTheSessionAndTheDesktopsOwnScreenSaver)
{
    struct Case {
        const char *name;
        bool hint, active;      // logind's session
        int saver;              // 0 none, 1 run by the desktop, 2 run by another program; it says locked
        int inputSeconds;       // input arriving every second for this long while locked
        int dropEvery;          // logind's hint drops for a second every this many seconds; 0 never
        bool locked;            // expected
        const char *problem;    // a part of the expected problem(), "" for none
        bool sameUser = false;  // the seat's session in front, when ours is not, is this user's
    };
    const Case cases[] = {
        {"logind's hint", true, true, 0, 0, 0, true, ""},
        {"unlocked", false, true, 0, 0, 0, false, ""},
        {"switched out", false, false, 0, 0, 0, true, ""},
        {"the desktop's screen saver", false, true, 1, 0, 0, true, ""},
        {"a foreign owner of the screen-saver name", false, true, 2, 0, 0, false,
         "org.freedesktop.ScreenSaver is held by a program that is not the desktop's"},
        {"typing at a real lock screen", true, true, 0, 40, 0, true, ""},
        {"input keeps arriving", true, true, 0, 61, 0, false, "locked while input keeps arriving"},
        {"a claim dropped for a second every 50 s", true, true, 0, 170, 51, false, "locked while input keeps"},
        {"this user's other session in front", false, false, 0, 0, 0, true, "another session of this user (_38)", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PrivateBus system, session;
        ASSERT_TRUE(system.ok() && session.ok());
        QDBusConnection logind = system.connect(), saverBus = session.connect();
        FakeLogind manager;
        FakeLogindSession sessionObject, front;
        FakeSeat seat;
        sessionObject.locked = c.hint;
        sessionObject.active = c.active;
        sessionObject.seat = {"seat0", QDBusObjectPath("/org/freedesktop/login1/seat/seat0")};
        front.user.first = ::getuid() + (c.sameUser ? 0 : 1);
        ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1", &manager, kExport));
        ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1/session/_37", &sessionObject, kExport));
        ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1/session/_38", &front, kExport));
        ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1/seat/seat0", &seat, kExport));
        ASSERT_TRUE(logind.registerService("org.freedesktop.login1"));
        FakeSaver saver;
        saver.active = true;
        if (c.saver) {
            ASSERT_TRUE(saverBus.registerObject("/org/freedesktop/ScreenSaver", &saver, kExport));
            ASSERT_TRUE(saverBus.registerService("org.freedesktop.ScreenSaver"));
        }
        auto evidence = std::make_shared<TamperEvidence>();
        ScreenLockMonitor monitor(system.connect(), session.connect(), "7", evidence,
                                  c.saver == 2 ? ScreenLockMonitor::isDesktopProgram : selfIsDesktop);
        const bool settled = waitUntil([&] {
            return monitor.locked() == (c.locked || c.inputSeconds > 0) &&
                   (c.inputSeconds > 0 || monitor.problem().isEmpty() == !*c.problem);
        });
        const auto hint = [&](bool locked) {
            QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1/session/_37",
                                                             "org.freedesktop.DBus.Properties", "PropertiesChanged");
            signal << "org.freedesktop.login1.Session" << QVariantMap{{"LockedHint", locked}} << QStringList{};
            logind.send(signal);
            return waitUntil([&] { return monitor.problem().isEmpty() == (monitor.locked() == locked); });
        };
        for (int second = 0; second <= c.inputSeconds; ++second) {
            const bool drop = c.dropEvery && second % c.dropEvery == c.dropEvery - 1;
            ASSERT_TRUE(!drop || hint(false));
            monitor.noteInput(Millis(second * 1000), 0.5);
            ASSERT_TRUE(!drop || hint(true));
        }
        EXPECT_TRUE(settled);
        EXPECT_EQ(monitor.locked(), c.locked);
        EXPECT_TRUE(monitor.problem().contains(c.problem)) << monitor.problem().toStdString();
        EXPECT_EQ(evidence->seenCount() > 0, *c.problem != 0);
    }
}

// A copy mounted over a path in a user namespace reads as that path in /proc/<pid>/exe: neither the
// desktop's screen saver (a root-owned file) nor our own program is known by the path alone.
TEST(ScreenLockMonitorTest, AnOwnerIsKnownByTheFileItRunsNotItsPath)
{
    QTemporaryDir dir;
    const QString sleep = QFileInfo(QStandardPaths::findExecutable("sleep")).canonicalFilePath();
    const QString self = ProgramFile::linkOf(QCoreApplication::applicationPid()), copy = dir.filePath("copy");
    ASSERT_TRUE(QFile::copy(sleep, copy));
    EXPECT_TRUE(platform::runsOurProgram(QCoreApplication::applicationPid()));
    // What /proc/<pid>/exe reads as, whether a copy of sleep is mounted over it, whether root's file runs.
    const std::tuple<QString, bool, bool> cases[] = {{sleep, false, true}, {sleep, true, false}, {self, true, false}};
    for (const auto &[path, mounted, rootFile] : cases) {
        SCOPED_TRACE(path.toStdString() + (mounted ? " under a copy" : ""));
        QProcess process;
        process.start(mounted ? "unshare" : path,
                      mounted
                          ? QStringList{"-Urm", "sh", "-c", "mount --bind \"$0\" \"$1\" && exec \"$1\" 30", copy, path}
                          : QStringList{"30"});
        ASSERT_TRUE(process.waitForStarted());
        if (!waitUntil([&] { return ProgramFile::linkOf(process.processId()) == path; }))
            GTEST_SKIP() << "SKIPPED: no user namespaces here: " << process.readAllStandardError().toStdString();
        EXPECT_FALSE(platform::runsOurProgram(process.processId()));
        EXPECT_EQ(ProgramFile::runsRootFileAt(process.processId()), rootFile ? path : QString());
        process.kill();
        process.waitForFinished();
    }
}

// The lock state comes from logind's and a (later) screen saver's signals, never a call per read;
// the session type is logind's, whatever the environment (the user's to set) says.
TEST(ScreenLockMonitorTest, FollowsLogindsLockedHintAndAScreenSaverBySignals)
{
    ScopedEnv x11{"XDG_SESSION_TYPE", "x11"}, noWayland{"WAYLAND_DISPLAY", ""};
    PrivateBus system, session;
    ASSERT_TRUE(system.ok() && session.ok());
    EXPECT_EQ(ScreenLockMonitor::sessionType(system.connect()), std::nullopt) << "no logind";
    QDBusConnection logind = system.connect(), saverBus = session.connect();
    FakeLogind manager;
    FakeLogindUser user;
    FakeLogindSession sessionObject;
    const QString path = QStringLiteral("/org/freedesktop/login1/session/_37");
    ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1", &manager, kExport));
    ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1/user/self", &user, kExport));
    ASSERT_TRUE(logind.registerService("org.freedesktop.login1"));
    const auto askType = [&] {
        std::optional<QString> type;  // a blocking call: on a thread of its own while this one serves the fake
        const std::unique_ptr<QThread> asker(
            QThread::create([&] { type = ScreenLockMonitor::sessionType(system.connect()); }));
        asker->start();
        EXPECT_TRUE(waitUntil([&] { return asker->isFinished(); }));
        return type;
    };
    EXPECT_EQ(askType(), std::nullopt) << "an error answer (no such session) is no type";
    ASSERT_TRUE(logind.registerObject(path, &sessionObject, kExport));
    EXPECT_EQ(askType(), QString("wayland"));
    ScreenLockMonitor monitor(system.connect(), session.connect(), QStringLiteral("7"), {}, selfIsDesktop);
    int changes = 0;
    QObject::connect(&monitor, &ScreenLockMonitor::lockedChanged, [&] { ++changes; });
    EXPECT_TRUE(waitUntil([&] { return monitor.locked(); }));
    // Each step changes the answer, so that a stale one cannot pass.
    const std::tuple<const char *, bool, bool> steps[] = {
        {"LockedHint", false, false}, {"Active", false, true}, {"Active", true, false}};
    for (const auto &[property, value, locked] : steps) {
        QDBusMessage signal = QDBusMessage::createSignal(path, "org.freedesktop.DBus.Properties", "PropertiesChanged");
        signal << "org.freedesktop.login1.Session" << QVariantMap{{property, value}} << QStringList{};
        logind.send(signal);
        EXPECT_TRUE(waitUntil([&, expected = locked] { return monitor.locked() == expected; })) << property;
    }
    EXPECT_EQ(changes, 4);
    FakeSaver saver;
    ASSERT_TRUE(saverBus.registerObject("/org/freedesktop/ScreenSaver", &saver, kExport));
    ASSERT_TRUE(saverBus.registerService("org.freedesktop.ScreenSaver"));
    ASSERT_TRUE(waitUntil([&] { return saver.calls == 1; }));
    Q_EMIT saver.ActiveChanged(true);
    EXPECT_TRUE(waitUntil([&] { return monitor.locked(); }));
    Q_EMIT saver.ActiveChanged(false);
    EXPECT_TRUE(waitUntil([&] { return !monitor.locked(); }));
    saverBus.unregisterService("org.freedesktop.ScreenSaver");
    EXPECT_EQ(saver.calls, 1) << "the lock state must come from signals, not a call per read";
}

}  // namespace
}  // namespace fennimar::test

#include "ScreenLockMonitorTest.moc"
