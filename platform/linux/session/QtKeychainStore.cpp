#include "platform/linux/session/QtKeychainStore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QLibrary>
#include <QMap>
#include <QMetaObject>
#include <QTimer>

#include <QCoroDBusPendingCall>
#include <QCoroTimer>

#include <qt6keychain/keychain.h>

#include <type_traits>

namespace fennimar {

namespace {
const QString secretsName = QStringLiteral("org.freedesktop.secrets");
}  // namespace

// Receives the bus's signals about the store: QtDBus delivers them only to slots.
class QtKeychainStore::Watch : public QObject {
    Q_OBJECT
public:
    explicit Watch(const QDBusConnection &bus) : owner(secretsName, bus, QDBusServiceWatcher::WatchForOwnerChange)
    {
        connect(&owner, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString &, const QString &, const QString &newOwner) {
                    dropLibsecretService();
                    if (!newOwner.isEmpty() && listener)
                        listener();
                });
        QDBusConnection(bus).connect(secretsName, QStringLiteral("/org/freedesktop/secrets"),
                                     QStringLiteral("org.freedesktop.Secret.Service"),
                                     QStringLiteral("CollectionChanged"), this, SLOT(collectionChanged(QDBusMessage)));
    }

    QDBusServiceWatcher owner;
    std::function<void()> listener;

public Q_SLOTS:
    void collectionChanged(const QDBusMessage &)
    {
        if (listener)
            listener();
    }

private:
    // libsecret, QtKeychain's way to the Secret Service, keeps one proxy and one session for the
    // whole process (libsecret 0.20 does not drop them when the name's owner goes). The new owner
    // knows no such session ("The session does not exist" on every call): dropping them makes the
    // next call open a session with the new owner. QtKeychain loads the same library by this name.
    static void dropLibsecretService()
    {
        using Disconnect = void (*)();
        static const auto disconnect =
            reinterpret_cast<Disconnect>(QLibrary::resolve(QStringLiteral("secret-1"), 0, "secret_service_disconnect"));
        if (disconnect)
            disconnect();
    }
};

namespace {

using ReadError = SecretStore::ReadError;

struct JobOutcome {
    QKeychain::Error error = QKeychain::NoError;
    QString text;
    QByteArray data;
    bool unanswered = false;  // cut short: the store's owner changed, or jobLimit passed
};

// Runs one QtKeychain job to its end and disposes of it. The start is queued so that the finished
// signal is connected before any backend could emit it. A job that has not finished within
// jobLimit, or when the store's bus name loses its owner meanwhile (its answer would have to come
// from a store that is gone), is left to end on its own and answered as unanswered.
template <typename Job>
QCoro::Task<JobOutcome> runJob(Job *job, QtKeychainStore::Watch *watch)
{
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    QTimer over;
    over.setSingleShot(true);
    bool finished = false, replaced = false;
    QObject::connect(job, &QKeychain::Job::finished, &over, [&] { finished = true, over.start(0); });
    if (watch)
        QObject::connect(&watch->owner, &QDBusServiceWatcher::serviceOwnerChanged, &over,
                         [&](const QString &, const QString &oldOwner) {
                             // A store starting (perhaps for this very job) leaves the job be.
                             if (!oldOwner.isEmpty())
                                 replaced = true, over.start(0);
                         });
    QMetaObject::invokeMethod(
        job, [job] { job->start(); }, Qt::QueuedConnection);
    over.start(QtKeychainStore::jobLimit);
    // Awaiting the timer itself: QCoro's signal awaiter binds timeout()'s private argument to a
    // null reference, which UndefinedBehaviorSanitizer rightly rejects.
    co_await over;
    if (!finished) {
        QObject::connect(job, &QKeychain::Job::finished, job, &QObject::deleteLater);
        co_return JobOutcome{QKeychain::OtherError,
                             replaced ? QStringLiteral("the secret store was replaced while it was asked")
                                      : QStringLiteral("the secret store did not answer within %1 s")
                                            .arg(QtKeychainStore::jobLimit.count() / 1000),
                             {},
                             true};
    }
    JobOutcome outcome{job->error(), job->errorString(), {}, false};
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
    QDBusMessage call =
        QDBusMessage::createMethodCall(secretsName, QStringLiteral("/org/freedesktop/secrets"),
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
    if (outcome.unanswered)
        co_return Failure{ReadError::Unavailable, outcome.text};
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

QtKeychainStore::QtKeychainStore()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        m_watch = std::make_unique<Watch>(bus);
}

QtKeychainStore::~QtKeychainStore() = default;

void QtKeychainStore::watchChanges(std::function<void()> changed)
{
    if (m_watch)
        m_watch->listener = std::move(changed);
}

QCoro::Task<SecretStore::ReadResult> QtKeychainStore::read(QString service, QString account)
{
    // A locked item is not read through QtKeychain: libsecret would ask the store to prompt for
    // the keyring's password, and a background agent does not raise that dialog (at every retry).
    if (co_await askSecretService(service, account) == Presence::Locked)
        co_return ReadResult{std::nullopt, ReadError::Locked, QStringLiteral("the secret store is locked")};
    auto *job = new QKeychain::ReadPasswordJob(service);
    job->setKey(account);
    const JobOutcome outcome = co_await runJob(job, m_watch.get());
    if (outcome.error == QKeychain::NoError)
        co_return ReadResult{outcome.data, ReadError::None, {}};
    if (outcome.error == QKeychain::EntryNotFound) {
        // "Not stored" only on the Secret Service's own word: every other answer leaves it open.
        switch (co_await askSecretService(service, account)) {
            case Presence::Absent:
                co_return ReadResult{std::nullopt, ReadError::NotFound, QStringLiteral("no secret is stored")};
            case Presence::Locked:
                co_return ReadResult{std::nullopt, ReadError::Locked, QStringLiteral("the secret store is locked")};
            case Presence::Unlocked:
                co_return ReadResult{std::nullopt, ReadError::Other,
                                     QStringLiteral("the secret store lists the secret but did not return it")};
            case Presence::NoService:
                co_return ReadResult{std::nullopt, ReadError::Unavailable,
                                     QStringLiteral("no secret store is running")};
            case Presence::Unknown:
                break;
        }
        co_return ReadResult{std::nullopt, ReadError::Other,
                             QStringLiteral("the secret store did not say whether it holds the secret")};
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
    const JobOutcome outcome = co_await runJob(job, m_watch.get());
    if (outcome.error == QKeychain::NoError)
        co_return Status();
    const Failure failure = co_await classify(outcome, service, account);
    co_return Status::failure(failure.description);
}

QCoro::Task<Status> QtKeychainStore::remove(QString service, QString account)
{
    auto *job = new QKeychain::DeletePasswordJob(service);
    job->setKey(account);
    const JobOutcome outcome = co_await runJob(job, m_watch.get());
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

#include "QtKeychainStore.moc"
