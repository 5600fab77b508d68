#include "platform/linux/session/ScreenLockMonitor.h"
#include "tests/platform/linux/LinuxTestSupport.h"
#include "tests/support/LogCapture.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>

#include <gtest/gtest.h>

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

class FakeLogindSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool LockedHint MEMBER locked)
    Q_PROPERTY(bool Active MEMBER active)
public:
    bool locked = true;
    bool active = true;
};

constexpr auto kExport =
    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties;

bool selfIsDesktop(const QString &exe)
{
    return exe == QFile::symLinkTarget("/proc/self/exe");
}

// logind's session and the desktop's screen saver are believed; another name holder or a lock under input is not.
TEST(ScreenLockMonitorTest, BelievesOnlyTheSessionAndTheDesktopsOwnScreenSaver)
{
    if (!missingTools({"dbus-daemon"}).isEmpty())
        GTEST_SKIP() << "SKIPPED: needs dbus-daemon (scripts/install-deps.sh)";
    struct Case {
        const char *name;
        bool hint, active;    // logind's session
        int saver;            // 0 none, 1 run by the desktop, 2 run by another program; it says locked
        int inputSeconds;     // input arriving every second for this long while locked
        bool locked;          // expected
        const char *problem;  // a part of the expected problem(), "" for none
    };
    const Case cases[] = {
        {"logind's hint", true, true, 0, 0, true, ""},
        {"unlocked", false, true, 0, 0, false, ""},
        {"switched out", false, false, 0, 0, true, ""},
        {"the desktop's screen saver", false, true, 1, 0, true, ""},
        {"a foreign owner of the screen-saver name", false, true, 2, 0, false,
         "org.freedesktop.ScreenSaver is held by a program that is not the desktop's"},
        {"typing at a real lock screen", true, true, 0, 40, true, ""},
        {"input keeps arriving", true, true, 0, 61, false, "locked while input keeps arriving"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PrivateBus system, session;
        ASSERT_TRUE(system.ok() && session.ok());
        QDBusConnection logind = system.connect(), saverBus = session.connect();
        FakeLogind manager;
        FakeLogindSession sessionObject;
        sessionObject.locked = c.hint;
        sessionObject.active = c.active;
        ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1", &manager, kExport));
        ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1/session/_37", &sessionObject, kExport));
        ASSERT_TRUE(logind.registerService("org.freedesktop.login1"));
        FakeSaver saver;
        saver.active = true;
        if (c.saver) {
            ASSERT_TRUE(saverBus.registerObject("/org/freedesktop/ScreenSaver", &saver, kExport));
            ASSERT_TRUE(saverBus.registerService("org.freedesktop.ScreenSaver"));
        }
        LogCapture log;
        auto evidence = std::make_shared<TamperEvidence>();
        ScreenLockMonitor monitor(system.connect(), session.connect(), "7", evidence,
                                  c.saver == 2 ? ScreenLockMonitor::isDesktopProgram : selfIsDesktop);
        const bool settled = waitUntil([&] {
            return monitor.locked() == (c.locked || c.inputSeconds > 0) &&
                   (c.inputSeconds > 0 || monitor.problem().isEmpty() == !*c.problem);
        });
        for (int second = 0; second <= c.inputSeconds; ++second)
            monitor.noteInput(Millis(second * 1000), 0.5);
        EXPECT_TRUE(settled);
        EXPECT_EQ(monitor.locked(), c.locked);
        EXPECT_TRUE(monitor.problem().contains(c.problem)) << monitor.problem().toStdString();
        EXPECT_EQ(evidence->seenCount(), *c.problem ? 1u : 0u);
        EXPECT_EQ(log.text().contains("WARN ]"), *c.problem != 0) << log.text().toStdString();
    }
}

// The lock state comes from logind's and a (later) screen saver's signals, never a call per read.
TEST(ScreenLockMonitorTest, FollowsLogindsLockedHintAndAScreenSaverBySignals)
{
    if (!missingTools({"dbus-daemon"}).isEmpty())
        GTEST_SKIP() << "SKIPPED: needs dbus-daemon (scripts/install-deps.sh)";
    PrivateBus system, session;
    ASSERT_TRUE(system.ok() && session.ok());
    QDBusConnection logind = system.connect(), saverBus = session.connect();
    FakeLogind manager;
    FakeLogindSession sessionObject;
    const QString path = QStringLiteral("/org/freedesktop/login1/session/_37");
    ASSERT_TRUE(logind.registerObject("/org/freedesktop/login1", &manager, kExport));
    ASSERT_TRUE(logind.registerObject(path, &sessionObject, kExport));
    ASSERT_TRUE(logind.registerService("org.freedesktop.login1"));
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
