// Notifications against a notification server of our own on a private session bus.
#include "platform/linux/session/DBusNotifier.h"
#include "tests/platform/linux/LinuxTestSupport.h"

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList capabilities;
    QStringList bodies;
public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &, uint, const QString &, const QString &, const QString &body, const QStringList &,
                const QVariantMap &, int)
    {
        bodies << body;
        return uint(bodies.size());
    }
};

// A backend's text is never markup: escaped where the server reads markup, as it is elsewhere.
TEST(DBusNotifierTest, TheBodyIsEscapedExactlyWhenTheServerReadsMarkup)
{
    const struct {
        const char *name;
        QStringList capabilities;
        QString body;
    } rows[] = {
        {"body-markup offered", {"body", "body-markup", "actions"}, "Robin &lt;b&gt; &amp; &lt;img src=x&gt;\nnext"},
        {"plain text only", {"body", "actions"}, "Robin <b> & <img src=x>\nnext"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        PrivateBus bus;
        ASSERT_TRUE(bus.ok());
        QDBusConnection serverBus = bus.connect();
        FakeNotificationServer server;
        server.capabilities = row.capabilities;
        ASSERT_TRUE(
            serverBus.registerObject("/org/freedesktop/Notifications", &server, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(serverBus.registerService("org.freedesktop.Notifications"));
        DBusNotifier notifier(bus.connect());
        notifier.show({"pairing", "Paired", "Robin <b> & <img src=x>\nnext", false, {}});
        ASSERT_TRUE(waitUntil([&] { return server.bodies.size() == 1; }));
        EXPECT_EQ(server.bodies.value(0), row.body);
    }
}

}  // namespace
}  // namespace fennimar::test

#include "DBusNotifierTest.moc"
