#pragma once

#include "core/Clock.h"
#include "platform/SecretStore.h"

namespace fennimar::macos {

// Secrets as generic-password items of the login keychain, through the Security framework's SecItem
// functions: class generic password, the service and account as given, the secret as the item's data,
// accessible after the first unlock. A write replaces the item in place (SecItemUpdate, SecItemAdd
// only when there is none), so a failed write never leaves the user without the earlier secret.
//
// SecItem calls can block: the keychain may show an unlock or access prompt (items are bound to the
// signer, so a rebuilt unsigned agent is asked about), which has no time limit of its own. Each call
// runs on a thread of its own; the coroutine resumes on the main thread and gives up after
// callTimeout with Locked (the call is left to finish and its answer dropped).
class MacKeychainStore final : public SecretStore {
public:
    explicit MacKeychainStore(Millis callTimeout = Millis{60000});

    QCoro::Task<ReadResult> read(QString service, QString account) override;
    QCoro::Task<Status> write(QString service, QString account, QByteArray secret) override;
    QCoro::Task<Status> remove(QString service, QString account) override;

    // The synchronous calls behind them, on the calling thread (for the tests and the worker).
    static ReadResult readNow(const QString &service, const QString &account);
    static Status writeNow(const QString &service, const QString &account, const QByteArray &secret);
    static Status removeNow(const QString &service, const QString &account);

    // How a SecItem status reads for callers: ItemNotFound is NotFound; InteractionNotAllowed,
    // AuthFailed and UserCanceled are Locked; NotAvailable, NoSuchKeychain and MissingEntitlement are
    // Unavailable; any other failure is Other.
    static ReadError errorKind(qint32 status);
    // "Keychain error <status>: <the system's message or "unknown">".
    static QString describe(qint32 status);

private:
    Millis m_callTimeout;
};

}  // namespace fennimar::macos
