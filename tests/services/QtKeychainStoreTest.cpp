// The identity store against a real Secret Service. Run through with-secret-service.sh, which sets
// up a private home and a private session bus with an unlocked gnome-keyring ("keyring" mode) or no
// bus at all ("nobus"), so the user's own keyring is never touched.
#include "platform/Keychain.h"
#include "platform/QtKeychainStore.h"

#include "tests/support/LogCapture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>

#include <QCoroTask>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace fennimar;
using test::LogCapture;

namespace {

const QString secrets = QStringLiteral("org.freedesktop.secrets");
const QString servicePath = QStringLiteral("/org/freedesktop/secrets");
const QString serviceInterface = QStringLiteral("org.freedesktop.Secret.Service");

QString mode()
{
    return qEnvironmentVariable("FENNIMAR_TEST_SECRET_SERVICE");
}

// A macro, because GTEST_SKIP() only leaves the function it is written in.
#define SKIP_UNLESS_MODE(wanted)                                                                      \
    do {                                                                                              \
        if (qEnvironmentVariableIsSet("FENNIMAR_SECRET_SERVICE_MISSING"))                             \
            GTEST_SKIP() << "SKIPPED: the real secret store tests need "                              \
                         << qPrintable(qEnvironmentVariable("FENNIMAR_SECRET_SERVICE_MISSING"))       \
                         << "(install dbus and gnome-keyring: scripts/install-deps.sh)";              \
        if (mode() != QLatin1String(wanted))                                                          \
            GTEST_SKIP() << "runs only in the \"" << (wanted) << "\" mode of with-secret-service.sh"; \
    } while (false)

PairedIdentity identity(const QString &device)
{
    return {device, QStringLiteral("child-9"), QStringLiteral("Léa"), QStringLiteral("token-") + device,
            QDateTime::fromMSecsSinceEpoch(1773478800999, QTimeZone::utc())};
}

QDBusMessage callService(const QString &method, const QList<QVariant> &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(secrets, servicePath, serviceInterface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
}

// How many items of ours the Secret Service holds: {unlocked, locked}.
std::pair<qsizetype, qsizetype> itemsFor(const QString &account)
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QMap<QString, QString> attributes;
    attributes.insert(QStringLiteral("server"), Keychain::service());
    attributes.insert(QStringLiteral("user"), account);
    const QDBusMessage reply = callService(QStringLiteral("SearchItems"), {QVariant::fromValue(attributes)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return {-1, -1};
    return {qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0)).size(),
            qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1)).size()};
}

bool lockKeyring()
{
    const QDBusMessage alias = callService(QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    if (alias.arguments().isEmpty())
        return false;
    const QList<QDBusObjectPath> collections{qdbus_cast<QDBusObjectPath>(alias.arguments().at(0))};
    return callService(QStringLiteral("Lock"), {QVariant::fromValue(collections)}).type() == QDBusMessage::ReplyMessage;
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
    EXPECT_EQ(itemsFor(account), std::make_pair(qsizetype(1), qsizetype(0)));
    EXPECT_TRUE(QCoro::waitFor(keychain.clear()));
    EXPECT_EQ(itemsFor(account), std::make_pair(qsizetype(0), qsizetype(0)));
    EXPECT_TRUE(QCoro::waitFor(keychain.clear())) << "clearing nothing succeeds";
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(u'\n').toStdString();
}

// What every call does when the store cannot be used: nothing taken for "not paired" silently.
void expectRefused(QtKeychainStore &store, const QString &user, SecretStore::ReadError error, const QString &cause)
{
    const Keychain keychain(store, user);
    EXPECT_EQ(QCoro::waitFor(store.read(Keychain::service(), Keychain::account(user))).error, error);
    LogCapture log;
    EXPECT_EQ(QCoro::waitFor(keychain.load()), std::nullopt);
    const Status saved = QCoro::waitFor(keychain.save(identity(QStringLiteral("other"))));
    EXPECT_TRUE(saved.error().startsWith(QStringLiteral("Could not save the pairing: ") + cause))
        << saved.error().toStdString();
    EXPECT_FALSE(QCoro::waitFor(keychain.clear()));
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 2) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines.at(0).startsWith(QStringLiteral("WARN ] cannot read the stored identity · ") + cause))
        << lines.at(0).toStdString();
    EXPECT_TRUE(lines.at(1).startsWith(QStringLiteral("WARN ] could not clear the stored identity · ") + cause));
}

// Last: the keyring stays locked.
TEST(SecretServiceKeychain, ALockedKeyringIsNeitherEmptyNorOverwrittenNorCleared)
{
    SKIP_UNLESS_MODE("keyring");
    QtKeychainStore store;
    ASSERT_TRUE(QCoro::waitFor(Keychain(store, QStringLiteral("locked")).save(identity(QStringLiteral("kept")))));
    ASSERT_TRUE(lockKeyring());
    expectRefused(store, QStringLiteral("locked"), SecretStore::ReadError::Locked,
                  QStringLiteral("the secret store is locked"));
    EXPECT_EQ(itemsFor(Keychain::account(QStringLiteral("locked"))), std::make_pair(qsizetype(0), qsizetype(1)));
}

TEST(NoSecretService, EveryCallSaysTheStoreIsUnavailable)
{
    SKIP_UNLESS_MODE("nobus");
    QtKeychainStore store;
    expectRefused(store, QStringLiteral("nobody"), SecretStore::ReadError::Unavailable,
                  QStringLiteral("no secret store is running"));
}

}  // namespace
