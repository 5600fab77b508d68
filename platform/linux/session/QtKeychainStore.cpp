#include "platform/linux/session/QtKeychainStore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QMap>
#include <QMetaObject>

#include <QCoroDBusPendingCall>
#include <QCoroSignal>

#include <qt6keychain/keychain.h>

#include <type_traits>

namespace fennimar {

namespace {

using ReadError = SecretStore::ReadError;

struct JobOutcome {
    QKeychain::Error error = QKeychain::NoError;
    QString text;
    QByteArray data;
};

// Runs one QtKeychain job to its end and disposes of it. The start is queued so that the finished
// signal is connected before any backend could emit it.
template <typename Job>
QCoro::Task<JobOutcome> runJob(Job *job)
{
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    QMetaObject::invokeMethod(
        job, [job] { job->start(); }, Qt::QueuedConnection);
    const QKeychain::Job *finished = co_await qCoro(job, &QKeychain::Job::finished);
    Q_UNUSED(finished);
    JobOutcome outcome{job->error(), job->errorString(), {}};
    if constexpr (std::is_same_v<Job, QKeychain::ReadPasswordJob>)
        outcome.data = job->binaryData();
    // The job is still inside its own signal emission machinery: let the event loop delete it.
    job->deleteLater();
    co_return outcome;
}

// What the Secret Service itself says about the item QtKeychain keeps for (service, account).
enum class Presence { Unlocked, Locked, Absent, NoService, Unknown };

// QtKeychain's Secret Service items carry the attributes "server" (the service) and "user" (the
// account). SearchItems matches them even in a locked collection and answers in two lists, unlocked
// and locked, which is exactly what "entry not found" hides. The service is not started for this
// question: QtKeychain has already tried to start it.
QCoro::Task<Presence> askSecretService(QString service, QString account)
{
#ifdef Q_OS_DARWIN
    Q_UNUSED(service);
    Q_UNUSED(account);
    co_return Presence::Unknown;
#else
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return Presence::NoService;
    static const bool registered = [] {
        qDBusRegisterMetaType<QMap<QString, QString> >();
        return true;
    }();
    Q_UNUSED(registered);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
    call.setAutoStartService(false);
    QMap<QString, QString> attributes;
    attributes.insert(QStringLiteral("server"), service);
    attributes.insert(QStringLiteral("user"), account);
    call << QVariant::fromValue(attributes);
    const QDBusPendingCall pending = bus.asyncCall(call, 1000);
    const QDBusMessage reply = co_await pending;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString name = reply.errorName();
        if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            co_return Presence::NoService;
        co_return Presence::Unknown;
    }
    const QList<QVariant> arguments = reply.arguments();
    if (arguments.size() != 2)
        co_return Presence::Unknown;
    if (!qdbus_cast<QList<QDBusObjectPath> >(arguments.at(1)).isEmpty())
        co_return Presence::Locked;
    if (!qdbus_cast<QList<QDBusObjectPath> >(arguments.at(0)).isEmpty())
        co_return Presence::Unlocked;
    co_return Presence::Absent;
#endif
}

struct Failure {
    ReadError kind = ReadError::Other;
    QString description;
};

// Turns a failed job into a cause a person can act on.
QCoro::Task<Failure> classify(JobOutcome outcome, QString service, QString account)
{
    switch (outcome.error) {
        case QKeychain::AccessDenied:
        case QKeychain::AccessDeniedByUser:
            co_return Failure{ReadError::Locked,
                              QStringLiteral("the secret store is locked or refused access (%1)").arg(outcome.text)};
        case QKeychain::NoBackendAvailable:
            co_return Failure{ReadError::Unavailable,
                              QStringLiteral("no secret store is available (%1)").arg(outcome.text)};
        default:
            break;
    }
    // QtKeychain reports a missing Secret Service as a generic error.
    const Presence presence = co_await askSecretService(service, account);
    if (presence == Presence::NoService || outcome.text.contains(QLatin1String("org.freedesktop.secrets")))
        co_return Failure{ReadError::Unavailable, QStringLiteral("no secret store is running (%1)").arg(outcome.text)};
    co_return Failure{ReadError::Other, QStringLiteral("the secret store failed (%1)").arg(outcome.text)};
}

}  // namespace

QtKeychainStore::QtKeychainStore() = default;

QCoro::Task<SecretStore::ReadResult> QtKeychainStore::read(QString service, QString account)
{
    auto *job = new QKeychain::ReadPasswordJob(service);
    job->setKey(account);
    const JobOutcome outcome = co_await runJob(job);
    if (outcome.error == QKeychain::NoError)
        co_return ReadResult{outcome.data, ReadError::None, {}};
    if (outcome.error == QKeychain::EntryNotFound) {
        const Presence presence = co_await askSecretService(service, account);
        if (presence == Presence::Locked)
            co_return ReadResult{std::nullopt, ReadError::Locked, QStringLiteral("the secret store is locked")};
        if (presence == Presence::Unlocked)
            co_return ReadResult{std::nullopt, ReadError::Other,
                                 QStringLiteral("the secret store lists the secret but did not return it")};
        co_return ReadResult{std::nullopt, ReadError::NotFound, QStringLiteral("no secret is stored")};
    }
    const Failure failure = co_await classify(outcome, service, account);
    co_return ReadResult{std::nullopt, failure.kind, failure.description};
}

QCoro::Task<Status> QtKeychainStore::write(QString service, QString account, QByteArray secret)
{
    // Stores in place: the Secret Service replaces an item with the same attributes, the macOS
    // keychain updates an existing item.
    auto *job = new QKeychain::WritePasswordJob(service);
    job->setKey(account);
    job->setBinaryData(secret);
    const JobOutcome outcome = co_await runJob(job);
    if (outcome.error == QKeychain::NoError)
        co_return Status();
    const Failure failure = co_await classify(outcome, service, account);
    co_return Status::failure(failure.description);
}

QCoro::Task<Status> QtKeychainStore::remove(QString service, QString account)
{
    auto *job = new QKeychain::DeletePasswordJob(service);
    job->setKey(account);
    const JobOutcome outcome = co_await runJob(job);
    if (outcome.error != QKeychain::NoError && outcome.error != QKeychain::EntryNotFound) {
        const Failure failure = co_await classify(outcome, service, account);
        co_return Status::failure(failure.description);
    }
    const Presence presence = co_await askSecretService(service, account);
    if (presence == Presence::Locked)
        co_return Status::failure(QStringLiteral("the secret store is locked, so the secret stays stored"));
    if (presence == Presence::Unlocked)
        co_return Status::failure(QStringLiteral("the secret store did not delete the secret"));
    co_return Status();
}

}  // namespace fennimar
