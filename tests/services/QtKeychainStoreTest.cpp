// The identity store against a real Secret Service. Run through with-secret-service.sh, which sets
// up a private home and a private session bus (with an unlocked gnome-keyring in "keyring" mode,
// with no services at all in "bare" mode; "nobus" has no bus), so the user's own keyring is never
// touched.
#include "platform/Keychain.h"
#include "platform/QtKeychainStore.h"

#include "tests/support/LogCapture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

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

QDBusObjectPath defaultCollection()
{
    const QDBusMessage reply = callService(QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    return reply.arguments().isEmpty() ? QDBusObjectPath() : qdbus_cast<QDBusObjectPath>(reply.arguments().at(0));
}

bool lockKeyring()
{
    const QList<QDBusObjectPath> collections{defaultCollection()};
    const QDBusMessage reply = callService(QStringLiteral("Lock"), {QVariant::fromValue(collections)});
    return reply.type() == QDBusMessage::ReplyMessage;
}

// The Secret Service's secret structure, (oayays): session, parameters, value, content type.
struct WrappedSecret {
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument &operator<<(QDBusArgument &argument, const WrappedSecret &secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, WrappedSecret &secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(WrappedSecret)

namespace {

// Unlocking normally takes a prompt; gnome-keyring also takes the password directly, in the clear
// over a "plain" session on this (private) bus.
bool unlockKeyring()
{
    qDBusRegisterMetaType<WrappedSecret>();
    const QDBusMessage opened =
        callService(QStringLiteral("OpenSession"),
                    {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QVariant(QString())))});
    if (opened.type() != QDBusMessage::ReplyMessage || opened.arguments().size() != 2)
        return false;
    const WrappedSecret master{qdbus_cast<QDBusObjectPath>(opened.arguments().at(1)),
                               {},
                               qgetenv("FENNIMAR_TEST_KEYRING_PASSWORD"),
                               QStringLiteral("text/plain")};
    QDBusMessage call = QDBusMessage::createMethodCall(
        secrets, servicePath, QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
        QStringLiteral("UnlockWithMasterPassword"));
    call.setArguments({QVariant::fromValue(defaultCollection()), QVariant::fromValue(master)});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

TEST(SecretServiceKeychain, SavesLoadsReplacesInPlaceAndClears)
{
    SKIP_UNLESS_MODE("keyring");
    QtKeychainStore store;
    const Keychain keychain(store, QStringLiteral("roundtrip"));
    const QString account = Keychain::account(QStringLiteral("roundtrip"));

    LogCapture log;
    EXPECT_EQ(QCoro::waitFor(store.read(Keychain::service(), account)).error, SecretStore::ReadError::NotFound);
    EXPECT_EQ(QCoro::waitFor(keychain.load()), std::nullopt);

    ASSERT_TRUE(QCoro::waitFor(keychain.save(identity(QStringLiteral("first")))));
    EXPECT_EQ(QCoro::waitFor(keychain.load()), identity(QStringLiteral("first")));
    const Status second = QCoro::waitFor(keychain.save(identity(QStringLiteral("second"))));
    ASSERT_TRUE(second) << second.error().toStdString();
    EXPECT_EQ(itemsFor(account), std::make_pair(qsizetype(1), qsizetype(0)));
    EXPECT_EQ(QCoro::waitFor(keychain.load()), identity(QStringLiteral("second")));

    EXPECT_TRUE(QCoro::waitFor(keychain.clear()));
    EXPECT_EQ(itemsFor(account), std::make_pair(qsizetype(0), qsizetype(0)));
    EXPECT_EQ(QCoro::waitFor(keychain.load()), std::nullopt);
    EXPECT_TRUE(QCoro::waitFor(keychain.clear()));
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(u'\n').toStdString();
}

TEST(SecretServiceKeychain, ALockedKeyringIsNeitherEmptyNorOverwrittenNorCleared)
{
    SKIP_UNLESS_MODE("keyring");
    QtKeychainStore store;
    const Keychain keychain(store, QStringLiteral("locked"));
    const QString account = Keychain::account(QStringLiteral("locked"));
    ASSERT_TRUE(QCoro::waitFor(keychain.save(identity(QStringLiteral("kept")))));
    ASSERT_TRUE(lockKeyring());

    const SecretStore::ReadResult read = QCoro::waitFor(store.read(Keychain::service(), account));
    EXPECT_EQ(read.error, SecretStore::ReadError::Locked) << read.description.toStdString();

    LogCapture log;
    EXPECT_EQ(QCoro::waitFor(keychain.load()), std::nullopt);
    const Status saved = QCoro::waitFor(keychain.save(identity(QStringLiteral("other"))));
    ASSERT_FALSE(saved);
    EXPECT_TRUE(saved.error().startsWith(QStringLiteral("Could not save the pairing: the secret store is locked")))
        << saved.error().toStdString();
    EXPECT_FALSE(QCoro::waitFor(keychain.clear()));
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 2) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines.at(0), QStringLiteral("WARN ] cannot read the stored identity · the secret store is locked · "
                                          "continuing as not paired"));
    EXPECT_TRUE(
        lines.at(1).startsWith(QStringLiteral("WARN ] could not clear the stored identity · the secret "
                                              "store is locked")))
        << lines.at(1).toStdString();
    EXPECT_EQ(itemsFor(account), std::make_pair(qsizetype(0), qsizetype(1)));

    ASSERT_TRUE(unlockKeyring());
    EXPECT_EQ(QCoro::waitFor(keychain.load()), identity(QStringLiteral("kept")));
    EXPECT_TRUE(QCoro::waitFor(keychain.clear()));
}

TEST(NoSecretService, EveryCallSaysTheStoreIsUnavailable)
{
    if (mode() != QLatin1String("nobus"))
        SKIP_UNLESS_MODE("bare");
    QtKeychainStore store;
    const Keychain keychain(store, QStringLiteral("nobody"));
    const SecretStore::ReadResult read =
        QCoro::waitFor(store.read(Keychain::service(), Keychain::account(QStringLiteral("nobody"))));
    EXPECT_EQ(read.error, SecretStore::ReadError::Unavailable) << read.description.toStdString();

    LogCapture log;
    EXPECT_EQ(QCoro::waitFor(keychain.load()), std::nullopt);
    const Status saved = QCoro::waitFor(keychain.save(identity(QStringLiteral("x"))));
    EXPECT_TRUE(saved.error().startsWith(QStringLiteral("Could not save the pairing: no secret store is running")))
        << saved.error().toStdString();
    EXPECT_FALSE(QCoro::waitFor(keychain.clear()));
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 2) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(
        lines.at(0).startsWith(QStringLiteral("WARN ] cannot read the stored identity · no secret store is running")))
        << lines.at(0).toStdString();
}

}  // namespace
