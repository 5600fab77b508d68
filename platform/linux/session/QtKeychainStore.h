#pragma once

#include "platform/SecretStore.h"

#include <chrono>
#include <memory>

namespace fennimar {

// The OS secret store through QtKeychain: the Secret Service (gnome-keyring, KeePassXC, ...) on
// Linux, the login keychain on macOS. Never falls back to QtKeychain's plain-text settings file.
//
// QtKeychain reports an item in a locked Secret Service collection as "entry not found", and a
// missing Secret Service as a generic error. Both are told apart here by asking the Secret Service
// itself over the session bus (one call bounded to a second, without starting the service), so that
// a locked keyring is never taken for "no secret stored".
//
// The owner of the Secret Service's bus name and its CollectionChanged signal are watched: a new
// owner (a login starting gnome-keyring anew) ends the jobs in flight, which would wait on a store
// that is gone, and drops libsecret's process-wide connection, whose session the new owner does not
// know; both it and a collection locked or unlocked in place are told to watchChanges' listener.
class QtKeychainStore final : public SecretStore {
public:
    // Long enough for a user to answer the store's unlock prompt, which a write may raise.
    static constexpr std::chrono::milliseconds jobLimit{120000};

    QtKeychainStore();
    ~QtKeychainStore() override;

    // One bounded Secret Service query first: an item in a locked collection answers Locked at once,
    // without a QtKeychain job (which would raise an unlock prompt). Otherwise one QtKeychain job (a
    // few D-Bus round trips, at most jobLimit) plus one bounded query when its answer is ambiguous.
    // NotFound only when the Secret Service itself lists no such item; a job cut short by a new owner
    // or unanswered within jobLimit is Unavailable.
    QCoro::Task<ReadResult> read(QString service, QString account) override;
    QCoro::Task<Status> write(QString service, QString account, QByteArray secret) override;
    // Also checks with the Secret Service that the item is really gone: a locked collection
    // acknowledges the deletion but keeps the item, which is reported as a failure.
    QCoro::Task<Status> remove(QString service, QString account) override;
    // Called when the bus name gets a new owner (not while it has none: a call then would start a
    // store of its own, without the password the new owner is being given) and when a collection
    // changes (locked, unlocked, an item written).
    void watchChanges(std::function<void()> changed) override;

    class Watch;

private:
    std::unique_ptr<Watch> m_watch;  // none without a session bus
};

}  // namespace fennimar
