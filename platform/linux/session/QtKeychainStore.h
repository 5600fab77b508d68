#pragma once

#include "platform/SecretStore.h"

namespace fennimar {

// The OS secret store through QtKeychain: the Secret Service (gnome-keyring, KeePassXC, ...) on
// Linux, the login keychain on macOS. Never falls back to QtKeychain's plain-text settings file.
//
// QtKeychain reports an item in a locked Secret Service collection as "entry not found", and a
// missing Secret Service as a generic error. Both are told apart here by asking the Secret Service
// itself over the session bus (one call bounded to a second, without starting the service), so that
// a locked keyring is never taken for "no secret stored".
class QtKeychainStore final : public SecretStore {
public:
    QtKeychainStore();

    // Costs one QtKeychain job (a few D-Bus round trips; the store may prompt the user to unlock,
    // which has no time limit), plus one bounded Secret Service query when the answer is ambiguous.
    QCoro::Task<ReadResult> read(QString service, QString account) override;
    QCoro::Task<fennimar::Status> write(QString service, QString account, QByteArray secret) override;
    // Also checks with the Secret Service that the item is really gone: a locked collection
    // acknowledges the deletion but keeps the item, which is reported as a failure.
    QCoro::Task<fennimar::Status> remove(QString service, QString account) override;
};

}  // namespace fennimar
