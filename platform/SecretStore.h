#pragma once

#include "core/CancelToken.h"
#include "core/Result.h"

#include <QByteArray>
#include <QString>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace fennimar {

// One secret per (service, account) in the OS secret store (Secret Service, Keychain).
// Asynchronous: the store may ask the user to unlock it. Main thread only.
class SecretStore {
public:
    enum class ReadError { None, NotFound, Locked, Unavailable, Other };
    struct ReadResult {
        std::optional<QByteArray> secret;  // present on success
        ReadError error = ReadError::None;
        QString description;  // a sentence naming the cause when error != None
    };
    virtual ~SecretStore() = default;

    // Reads the secret. NotFound when there is none; Locked/Unavailable when the store cannot be
    // asked, so that callers never mistake a locked store for an empty one.
    virtual QCoro::Task<ReadResult> read(QString service, QString account) = 0;
    // Stores the secret, replacing any earlier one in place (there is no moment with none stored).
    virtual QCoro::Task<Status> write(QString service, QString account, QByteArray secret) = 0;
    // Removes the secret; removing one that does not exist succeeds.
    virtual QCoro::Task<Status> remove(QString service, QString account) = 0;
    // Calls `changed` on the main thread whenever the store may now answer otherwise: it was locked
    // or unlocked, or another program took over as the store. Costs nothing between changes. A store
    // that cannot tell never calls it, so a caller waiting for the store also asks again on a timer.
    // One listener: a later call replaces the earlier one (an empty function removes it).
    virtual void watchChanges(std::function<void()> changed) { Q_UNUSED(changed); }
};

}  // namespace fennimar
