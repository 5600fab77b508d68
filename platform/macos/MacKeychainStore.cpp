#include "platform/macos/MacKeychainStore.h"

#include "platform/macos/CFHelpers.h"

#include <QThread>

#include <QCoroThread>

#include <memory>

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

// Runs fn on a thread of its own and resumes with its answer, or with onTimeout's after timeout.
template <typename T, typename Fn>
QCoro::Task<T> offMainThread(Fn fn, Millis timeout, T onTimeout)
{
    auto answer = std::make_shared<T>(std::move(onTimeout));
    QThread *thread = QThread::create([fn = std::move(fn), answer] { *answer = fn(); });
    // The thread goes when it ends, even when nobody waits for it any more.
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    const bool finished = co_await qCoro(thread).waitForFinished(timeout);
    if (!finished)
        co_return onTimeout;
    co_return *answer;
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

fennimar::Status MacKeychainStore::writeNow(const QString &service, const QString &account, const QByteArray &secret)
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
        return fennimar::Status::failure(describe(status));
    return {};
}

fennimar::Status MacKeychainStore::removeNow(const QString &service, const QString &account)
{
    const OSStatus status = SecItemDelete(Identity(service, account).query().get());
    if (status != statusSuccess && status != statusItemNotFound)
        return fennimar::Status::failure(describe(status));
    return {};
}

QCoro::Task<SecretStore::ReadResult> MacKeychainStore::read(QString service, QString account)
{
    co_return co_await offMainThread<ReadResult>(
        [service, account] { return readNow(service, account); }, m_callTimeout,
        ReadResult{std::nullopt, ReadError::Locked, QStringLiteral("the keychain did not answer in time")});
}

QCoro::Task<fennimar::Status> MacKeychainStore::write(QString service, QString account, QByteArray secret)
{
    co_return co_await offMainThread<fennimar::Status>(
        [service, account, secret] { return writeNow(service, account, secret); }, m_callTimeout,
        fennimar::Status::failure(QStringLiteral("the keychain did not answer in time")));
}

QCoro::Task<fennimar::Status> MacKeychainStore::remove(QString service, QString account)
{
    co_return co_await offMainThread<fennimar::Status>(
        [service, account] { return removeNow(service, account); }, m_callTimeout,
        fennimar::Status::failure(QStringLiteral("the keychain did not answer in time")));
}

}  // namespace fennimar::macos
