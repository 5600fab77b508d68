#include "platform/linux/session/ScreenLockMonitor.h"
#include "tests/platform/linux/LinuxTestSupport.h"

#include <QDBusMessage>
#include <QDBusObjectPath>

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

class FakeSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    int calls = 0;
public Q_SLOTS:
    bool GetActive() { return ++calls < 0; }
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
public:
    bool locked = true;
};

constexpr auto kExport =
    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties;

// The lock state comes from signals of logind's session and of a screen saver that may appear
// later, never from a call per read.
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

    ScreenLockMonitor monitor(system.connect(), session.connect(), QStringLiteral("7"));
    int changes = 0;
    QObject::connect(&monitor, &ScreenLockMonitor::lockedChanged, [&] { ++changes; });
    EXPECT_TRUE(waitUntil([&] { return monitor.locked(); }));
    for (const bool locked : {false, true, false}) {
        sessionObject.locked = locked;
        QDBusMessage signal = QDBusMessage::createSignal(path, "org.freedesktop.DBus.Properties", "PropertiesChanged");
        signal << "org.freedesktop.login1.Session" << QVariantMap{{"LockedHint", locked}} << QStringList{};
        logind.send(signal);
        EXPECT_TRUE(waitUntil([&] { return monitor.locked() == locked; }));
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
