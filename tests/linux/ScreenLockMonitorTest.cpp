#include "platform/linux/ScreenLockMonitor.h"
#include "tests/linux/LinuxTestSupport.h"

#include <QDBusMessage>
#include <QDBusObjectPath>

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

class FakeGnomeSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.ScreenSaver")
public:
    bool active = false;
    int calls = 0;
public Q_SLOTS:
    bool GetActive()
    {
        ++calls;
        return active;
    }
Q_SIGNALS:
    void ActiveChanged(bool active);
};

class FakeFreedesktopSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    bool active = false;
    int calls = 0;
public Q_SLOTS:
    bool GetActive()
    {
        ++calls;
        return active;
    }
Q_SIGNALS:
    void ActiveChanged(bool active);
};

class FakeLogindManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public Q_SLOTS:
    QDBusObjectPath GetSession(const QString &id)
    {
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/login1/session/_3") + id);
    }
};

class FakeLogindSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool LockedHint READ lockedHint)
public:
    bool locked = false;
    bool lockedHint() const { return locked; }
};

constexpr auto kExport =
    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties;

class ScreenLockMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!missingTools({QStringLiteral("dbus-daemon")}).isEmpty())
            GTEST_SKIP() << "SKIPPED: needs dbus-daemon (scripts/install-deps.sh)";
        ASSERT_TRUE(system.ok() && session.ok());
    }
    PrivateBus system, session;
};

TEST_F(ScreenLockMonitorTest, ScreenSaversAreFollowedBySignalsNotPolled)
{
    ScreenLockMonitor monitor(system.connect(), session.connect(), QStringLiteral("1"));
    EXPECT_FALSE(monitor.locked());

    // A saver that appears after the monitor started is asked once, then followed by its signal.
    QDBusConnection service = session.connect();
    FakeFreedesktopSaver freedesktop;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &freedesktop, kExport));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    ASSERT_TRUE(waitUntil([&] { return freedesktop.calls == 1; }));
    Q_EMIT freedesktop.ActiveChanged(true);
    EXPECT_TRUE(waitUntil([&] { return monitor.locked(); }));
    for (int tick = 0; tick < 1000; ++tick)
        (void)monitor.locked();
    Q_EMIT freedesktop.ActiveChanged(false);
    EXPECT_TRUE(waitUntil([&] { return !monitor.locked(); }));

    // GNOME's saver, already active when it appears; when it goes away it stops counting.
    QDBusConnection gnomeService = session.connect();
    FakeGnomeSaver gnome;
    gnome.active = true;
    ASSERT_TRUE(gnomeService.registerObject(QStringLiteral("/org/gnome/ScreenSaver"), &gnome, kExport));
    ASSERT_TRUE(gnomeService.registerService(QStringLiteral("org.gnome.ScreenSaver")));
    EXPECT_TRUE(waitUntil([&] { return monitor.locked(); }));
    gnomeService.unregisterService(QStringLiteral("org.gnome.ScreenSaver"));
    EXPECT_TRUE(waitUntil([&] { return !monitor.locked(); }));
    EXPECT_EQ(freedesktop.calls, 1) << "the lock state must come from signals, not a call per read";
}

TEST_F(ScreenLockMonitorTest, LogindLockedHintOfTheSession)
{
    QDBusConnection service = system.connect();
    FakeLogindManager manager;
    FakeLogindSession sessionObject;
    sessionObject.locked = true;
    const QString path = QStringLiteral("/org/freedesktop/login1/session/_37");
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager, kExport));
    ASSERT_TRUE(service.registerObject(path, &sessionObject, kExport));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.login1")));

    ScreenLockMonitor monitor(system.connect(), session.connect(), QStringLiteral("7"));
    int changes = 0;
    QObject::connect(&monitor, &ScreenLockMonitor::lockedChanged, [&] { ++changes; });
    EXPECT_TRUE(waitUntil([&] { return monitor.locked(); }));

    const auto announce = [&](bool locked) {
        sessionObject.locked = locked;
        QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("org.freedesktop.login1.Session")
               << QVariantMap{{QStringLiteral("LockedHint"), locked}} << QStringList{};
        service.send(signal);
    };
    announce(false);
    EXPECT_TRUE(waitUntil([&] { return !monitor.locked(); }));
    announce(true);
    EXPECT_TRUE(waitUntil([&] { return monitor.locked(); }));
    EXPECT_EQ(changes, 3);
}

}  // namespace
}  // namespace fennimar::test

#include "ScreenLockMonitorTest.moc"
