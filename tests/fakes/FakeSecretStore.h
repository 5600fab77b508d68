#pragma once

#include "platform/SecretStore.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <utility>

namespace fennimar::test {

// An in-memory secret store. It can be locked (reads say Locked, writes and removals fail and
// change nothing) or unavailable (every call fails as if no store were running), and writes can
// be made to fail on their own. Every call completes without suspending.
class FakeSecretStore final : public SecretStore {
public:
    bool locked = false;
    bool unavailable = false;
    QString writeFailure;  // when not empty, writes fail with this reason
    int writes = 0, removes = 0;
    std::map<std::pair<QString, QString>, QByteArray> secrets;

    QCoro::Task<ReadResult> read(QString service, QString account) override
    {
        if (unavailable || locked)
            co_return ReadResult{std::nullopt, unavailable ? ReadError::Unavailable : ReadError::Locked, refusal()};
        const auto it = secrets.find({service, account});
        if (it == secrets.end())
            co_return ReadResult{std::nullopt, ReadError::NotFound, QStringLiteral("no secret is stored")};
        co_return ReadResult{it->second, ReadError::None, {}};
    }
    QCoro::Task<fennimar::Status> write(QString service, QString account, QByteArray secret) override
    {
        ++writes;
        const QString why = refusal().isEmpty() ? writeFailure : refusal();
        if (!why.isEmpty())
            co_return fennimar::Status::failure(why);
        secrets[{service, account}] = secret;
        co_return fennimar::Status();
    }
    QCoro::Task<fennimar::Status> remove(QString service, QString account) override
    {
        ++removes;
        if (!refusal().isEmpty())
            co_return fennimar::Status::failure(refusal());
        secrets.erase({service, account});
        co_return fennimar::Status();
    }

private:
    QString refusal() const
    {
        if (unavailable)
            return QStringLiteral("no secret store is running");
        return locked ? QStringLiteral("the secret store is locked") : QString();
    }
};

}  // namespace fennimar::test
