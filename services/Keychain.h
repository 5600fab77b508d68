#pragma once

#include "platform/DeviceFacts.h"
#include "services/PairedIdentity.h"
#include "core/Result.h"
#include "platform/SecretStore.h"

#include <QString>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace fennimar {

// The paired identity in the OS secret store: one secret under service AgentBundleID and account
// "paired-identity-" followed by the login name, holding PairedIdentity::toJson(). No cache: every
// call asks the store. Main thread only; the store must outlive every task these calls return
// (the Keychain object itself need not).
class Keychain {
public:
    // The secret's service name: AgentBundleID.
    static QString service();
    // The secret's account for a login name: "paired-identity-" followed by the name.
    static QString account(const QString &userName);

    // The login name is read from device on every call, so each user has an independent pairing.
    Keychain(SecretStore &store, DeviceFacts &device);
    // A fixed login name (tests, tools).
    Keychain(SecretStore &store, QString userName);

    // The stored identity, or nullopt when there is none or it cannot be decoded (left in place for
    // the next save to replace). Never fails: a store that is locked, missing or broken also gives
    // nullopt, but after one WARN line naming the cause, so that "not paired" is never silently
    // mistaken for "could not ask". One round trip to the store (it may prompt to unlock).
    QCoro::Task<std::optional<PairedIdentity>> load() const;

    // What loadChecked() found: an identity, none stored, or a store that could not be read.
    struct Loaded {
        std::optional<PairedIdentity> identity;  // present when one is stored and decodes
        // None when the store answered (identity or not); Locked or Unavailable (or Other) when it
        // could not be asked, so that nothing can be concluded about a pairing.
        SecretStore::ReadError unreadable = SecretStore::ReadError::None;
        QString why;  // the store's sentence when unreadable
        bool readable() const { return unreadable == SecretStore::ReadError::None; }
    };
    // Like load(), but tells "nothing stored" apart from "the store could not be read" and logs
    // nothing: a caller that may start a new pairing must not do so on a store it could not read.
    // One round trip to the store.
    QCoro::Task<Loaded> loadChecked() const;

    // Replaces the stored identity in place: there is no moment with none stored, and a failed save
    // leaves the previous identity as it was. Fails with a sentence for the user when the identity
    // cannot be encoded (the store is not touched) or the store refuses; logs nothing itself (the
    // caller reports the failure). One round trip to the store.
    QCoro::Task<Status> save(PairedIdentity identity) const;

    // Deletes the stored identity; deleting none succeeds. A store that cannot delete it (locked,
    // missing) leaves it stored: that is logged as one WARN line and returned; callers may ignore it.
    QCoro::Task<Status> clear() const;

private:
    SecretStore &m_store;
    std::function<QString()> m_userName;
};

}  // namespace fennimar
