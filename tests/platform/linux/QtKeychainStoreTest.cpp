// The identity store on a real Secret Service, via with-secret-service.sh (private home and bus, or no bus).
#include "services/Keychain.h"
#include "platform/linux/session/QtKeychainStore.h"

#include "tests/support/LogCapture.h"

#include <QCoroTask>
#include <QCoroTimer>
#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace fennimar;
using test::LogCapture;

namespace {

QString mode()
{
    return qEnvironmentVariable("FENNIMAR_TEST_SECRET_SERVICE");
}

// A macro, because GTEST_SKIP() only leaves the function it is written in.
#define SKIP_UNLESS_MODE(wanted)                                                                      \
    do {                                                                                              \
        if (mode() != QLatin1String(wanted))                                                          \
            GTEST_SKIP() << "runs only in the \"" << (wanted) << "\" mode of with-secret-service.sh"; \
    } while (false)

PairedIdentity identity(const QString &device)
{
    return {device, QStringLiteral("child-9"), QStringLiteral("Léa"), QStringLiteral("token-") + device,
            QDateTime::fromMSecsSinceEpoch(1773478800999, QTimeZone::utc())};
}

TEST(SecretServiceKeychain, SavesLoadsReplacesInPlaceAndClears)
{
    SKIP_UNLESS_MODE("keyring");
    QtKeychainStore store;
    const Keychain keychain(store, QStringLiteral("roundtrip"));
    const QString account = Keychain::account(QStringLiteral("roundtrip"));
    LogCapture log;
    EXPECT_EQ(QCoro::waitFor(store.read(Keychain::service(), account)).error, SecretStore::ReadError::NotFound);
    for (const char *device : {"first", "second"}) {
        const Status saved = QCoro::waitFor(keychain.save(identity(QLatin1String(device))));
        ASSERT_TRUE(saved) << saved.error().toStdString();
        EXPECT_EQ(QCoro::waitFor(keychain.load()), identity(QLatin1String(device)));
    }
    EXPECT_TRUE(QCoro::waitFor(keychain.clear()));
    EXPECT_EQ(QCoro::waitFor(store.read(Keychain::service(), account)).error, SecretStore::ReadError::NotFound);
    EXPECT_TRUE(QCoro::waitFor(keychain.clear())) << "clearing nothing succeeds";
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(u'\n').toStdString();
}

// Locked, then unlocked in place (gnome-keyring's password call) or by a new owner of the bus name, as a login may do.
TEST(SecretServiceKeychain, IsReadAgainOnceUnlockedInPlaceOrByANewOwner)
{
    SKIP_UNLESS_MODE("keyring");
    QtKeychainStore store;
    int changes = 0;
    store.watchChanges([&] { ++changes; });
    const Keychain keychain(store, QStringLiteral("relock"));
    ASSERT_TRUE(QCoro::waitFor(keychain.save(identity(QStringLiteral("kept")))));
    // Plain calls, not QDBusInterface: its introspected meta-object lives as long as the connection.
    const auto call = [](const char *interface, const char *method, const QVariantList &arguments) {
        QDBusMessage m = QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                        QString::fromLatin1(interface), QString::fromLatin1(method));
        m.setArguments(arguments);
        return QDBusConnection::sessionBus().call(m);
    };
    const char *service = "org.freedesktop.Secret.Service";
    const auto noticed = [&](int before) {
        for (QDeadlineTimer limit(20000); changes == before && !limit.hasExpired();)
            QCoro::waitFor(QCoro::sleepFor(std::chrono::milliseconds(50)));
        return changes > before;
    };
    QProcess daemon;
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "new owner" : "in place");
        const QDBusObjectPath login = QDBusReply<QDBusObjectPath>(call(service, "ReadAlias", {"default"})).value();
        call(service, "Lock", {QVariant::fromValue(QList<QDBusObjectPath>{login})});
        ASSERT_TRUE(noticed(changes = 0));
        EXPECT_EQ(QCoro::waitFor(keychain.loadChecked()).unreadable, SecretStore::ReadError::Locked);
        const QByteArray password = qgetenv("SESSION_KEYRING_PASSWORD");
        if (replace) {
            // The test's own home is not the session's: the daemon must open the session's keyrings.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_DATA_HOME"), qEnvironmentVariable("SESSION_HOME") + "/home/.local/share");
            daemon.setProcessEnvironment(env);
            daemon.start(QStringLiteral("gnome-keyring-daemon"),
                         {"--replace", "--foreground", "--unlock", "--components=secrets"});
            ASSERT_TRUE(daemon.waitForStarted());
            daemon.write(password);
            daemon.closeWriteChannel();
        } else {
            const QDBusMessage opened = call(service, "OpenSession", {"plain", QVariant::fromValue(QDBusVariant(""))});
            QDBusArgument master;
            master.beginStructure();
            master << opened.arguments().value(1).value<QDBusObjectPath>() << QByteArray() << password
                   << QStringLiteral("text/plain");
            master.endStructure();
            call("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
                 {QVariant::fromValue(login), QVariant::fromValue(master)});
        }
        ASSERT_TRUE(noticed(changes));
        EXPECT_EQ(QCoro::waitFor(keychain.loadChecked()).identity, identity(QStringLiteral("kept")));
    }
}

// Nothing is taken for "not paired" silently when no store runs.
TEST(NoSecretService, EveryCallSaysTheStoreIsUnavailable)
{
    SKIP_UNLESS_MODE("nobus");
    QtKeychainStore store;
    const QString cause = QStringLiteral("no secret store is running");
    const Keychain keychain(store, QStringLiteral("nobody"));
    EXPECT_EQ(QCoro::waitFor(store.read(Keychain::service(), Keychain::account(QStringLiteral("nobody")))).error,
              SecretStore::ReadError::Unavailable);
    LogCapture log;
    const Status saved = QCoro::waitFor(keychain.save(identity(QStringLiteral("other"))));
    EXPECT_TRUE(saved.error().startsWith(QStringLiteral("Could not save the pairing: ") + cause))
        << saved.error().toStdString();
    EXPECT_FALSE(QCoro::waitFor(keychain.clear()));
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines.at(0).startsWith(QStringLiteral("WARN ] could not clear the stored identity · ") + cause));
}

}  // namespace
