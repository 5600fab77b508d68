#include "platform/macos/MacKeychainStore.h"

#include "platform/macos/CFHelpers.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <QCoroTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace fennimar::macos {

namespace {

constexpr OSStatus statusSuccess = 0;
constexpr OSStatus statusItemNotFound = -25300;  // errSecItemNotFound

using Query = CFPtr<CFDictionaryRef>;

// The item's identity: class, service, account.
struct Identity {
    CFPtr<CFStringRef> service;
    CFPtr<CFStringRef> account;
    Identity(const QString &s, const QString &a) : service(toCFString(s)), account(toCFString(a)) {}
    Query query() const
    {
        return makeDictionary({{kSecClass, kSecClassGenericPassword},
                               {kSecAttrService, service.get()},
                               {kSecAttrAccount, account.get()}});
    }
};

// Runs fn on a thread of its own and resumes with its answer, or with onTimeout's after timeout. The
// coroutine looks for the answer every 10 ms instead of awaiting the thread's finished signal, which
// is emitted on the worker thread and could pass between a check and a connection; the thread object
// deletes itself when it ends, whether or not anyone still waits.
template <typename T>
QCoro::Task<T> offMainThread(std::function<T()> fn, Millis timeout, T onTimeout)
{
    struct Handover {
        std::mutex mutex;
        std::optional<T> answer;
    };
    auto handover = std::make_shared<Handover>();
    QThread *thread = QThread::create([fn = std::move(fn), handover] {
        T answer = fn();
        const std::lock_guard lock(handover->mutex);
        handover->answer = std::move(answer);
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        {
            const std::lock_guard lock(handover->mutex);
            if (handover->answer)
                co_return std::move(*handover->answer);
        }
        if (waited.elapsed() >= timeout.count())
            co_return onTimeout;
        co_await QCoro::sleepFor(Millis(10));
    }
}

}  // namespace

MacKeychainStore::MacKeychainStore(Millis callTimeout) : m_callTimeout(callTimeout) {}

SecretStore::ReadError MacKeychainStore::errorKind(qint32 status)
{
    switch (status) {
        case 0:
            return ReadError::None;
        case -25300:  // errSecItemNotFound
            return ReadError::NotFound;
        case -25308:  // errSecInteractionNotAllowed: locked, and no prompt may be shown
        case -25293:  // errSecAuthFailed
        case -128:    // errSecUserCanceled
            return ReadError::Locked;
        case -25291:  // errSecNotAvailable
        case -25294:  // errSecNoSuchKeychain
        case -34018:  // errSecMissingEntitlement
            return ReadError::Unavailable;
        default:
            return ReadError::Other;
    }
}

QString MacKeychainStore::describe(qint32 status)
{
    const auto message = CFPtr<CFStringRef>::adopt(SecCopyErrorMessageString(status, nullptr));
    const QString text = toQString(message.get());
    return QStringLiteral("Keychain error %1: %2").arg(status).arg(text.isEmpty() ? QStringLiteral("unknown") : text);
}

SecretStore::ReadResult MacKeychainStore::readNow(const QString &service, const QString &account)
{
    const Identity identity(service, account);
    const auto query = makeDictionary({{kSecClass, kSecClassGenericPassword},
                                       {kSecAttrService, identity.service.get()},
                                       {kSecAttrAccount, identity.account.get()},
                                       {kSecReturnData, kCFBooleanTrue},
                                       {kSecMatchLimit, kSecMatchLimitOne}});
    CFTypeRef raw = nullptr;
    const OSStatus status = SecItemCopyMatching(query.get(), &raw);
    const auto result = CFPtr<CFTypeRef>::adopt(raw);
    if (status != statusSuccess)
        return {std::nullopt, errorKind(status), describe(status)};
    std::optional<QByteArray> data = dataValue(result.get());
    if (!data)
        return {std::nullopt, ReadError::Other, QStringLiteral("the keychain item holds no data")};
    return {std::move(data), ReadError::None, {}};
}

Status MacKeychainStore::writeNow(const QString &service, const QString &account, const QByteArray &secret)
{
    const Identity identity(service, account);
    const auto data = toCFData(secret);
    const auto changes = makeDictionary({{kSecValueData, data.get()}});
    OSStatus status = SecItemUpdate(identity.query().get(), changes.get());
    if (status == statusItemNotFound) {
        const auto item = makeDictionary({{kSecClass, kSecClassGenericPassword},
                                          {kSecAttrService, identity.service.get()},
                                          {kSecAttrAccount, identity.account.get()},
                                          {kSecValueData, data.get()},
                                          {kSecAttrAccessible, kSecAttrAccessibleAfterFirstUnlock}});
        status = SecItemAdd(item.get(), nullptr);
    }
    if (status != statusSuccess)
        return Status::failure(describe(status));
    return {};
}

Status MacKeychainStore::removeNow(const QString &service, const QString &account)
{
    const OSStatus status = SecItemDelete(Identity(service, account).query().get());
    if (status != statusSuccess && status != statusItemNotFound)
        return Status::failure(describe(status));
    return {};
}

// The work and the fallback are named before the co_await: temporaries inside a co_await operand are
// mishandled by some compilers' coroutine lowering (g++ 12 freed captured strings too early here).
QCoro::Task<SecretStore::ReadResult> MacKeychainStore::read(QString service, QString account)
{
    std::function<ReadResult()> work = [service, account] { return readNow(service, account); };
    ReadResult late{std::nullopt, ReadError::Locked, QStringLiteral("the keychain did not answer in time")};
    ReadResult result = co_await offMainThread(std::move(work), m_callTimeout, std::move(late));
    co_return result;
}

QCoro::Task<Status> MacKeychainStore::write(QString service, QString account, QByteArray secret)
{
    std::function<Status()> work = [service, account, secret] { return writeNow(service, account, secret); };
    Status late = Status::failure(QStringLiteral("the keychain did not answer in time"));
    Status result = co_await offMainThread(std::move(work), m_callTimeout, std::move(late));
    co_return result;
}

QCoro::Task<Status> MacKeychainStore::remove(QString service, QString account)
{
    std::function<Status()> work = [service, account] { return removeNow(service, account); };
    Status late = Status::failure(QStringLiteral("the keychain did not answer in time"));
    Status result = co_await offMainThread(std::move(work), m_callTimeout, std::move(late));
    co_return result;
}

}  // namespace fennimar::macos
