#include "services/Keychain.h"

#include "core/Log.h"
#include "platform/PlatformTraits.h"

namespace fennimar {

QString Keychain::service()
{
    return QString::fromLatin1(platform::AgentBundleID);
}

QString Keychain::account(const QString &userName)
{
    return QStringLiteral("paired-identity-") + userName;
}

Keychain::Keychain(SecretStore &store, DeviceFacts &device)
    : m_store(store), m_userName([&device] { return device.userName(); })
{
}

Keychain::Keychain(SecretStore &store, QString userName)
    : m_store(store), m_userName([name = std::move(userName)] { return name; })
{
}

// Each coroutine copies what it needs before its first suspension, so that only the store has to
// outlive the task.

QCoro::Task<std::optional<PairedIdentity>> Keychain::load() const
{
    SecretStore &store = m_store;
    const QString account = Keychain::account(m_userName());
    const SecretStore::ReadResult read = co_await store.read(service(), account);
    if (read.error == SecretStore::ReadError::NotFound)
        co_return std::nullopt;
    if (read.error != SecretStore::ReadError::None || !read.secret) {
        Log::warn(
            QStringLiteral("cannot read the stored identity · %1 · continuing as not paired").arg(read.description));
        co_return std::nullopt;
    }
    Result<PairedIdentity> identity = PairedIdentity::fromJson(*read.secret);
    if (!identity)
        co_return std::nullopt;
    co_return std::move(identity).value();
}

QCoro::Task<Keychain::Loaded> Keychain::loadChecked() const
{
    SecretStore &store = m_store;
    const QString account = Keychain::account(m_userName());
    const SecretStore::ReadResult read = co_await store.read(service(), account);
    Loaded loaded;
    if (read.error == SecretStore::ReadError::NotFound)
        co_return loaded;
    if (read.error != SecretStore::ReadError::None || !read.secret) {
        loaded.unreadable = read.error == SecretStore::ReadError::None ? SecretStore::ReadError::Other : read.error;
        loaded.why = read.description;
        co_return loaded;
    }
    // An undecodable secret is no pairing; it stays in place for the next save to replace.
    if (Result<PairedIdentity> identity = PairedIdentity::fromJson(*read.secret))
        loaded.identity = std::move(identity).value();
    co_return loaded;
}

QCoro::Task<Status> Keychain::save(PairedIdentity identity) const
{
    SecretStore &store = m_store;
    const QString account = Keychain::account(m_userName());
    const Result<QByteArray> json = identity.toJson();
    if (!json)
        co_return Status::failure(QStringLiteral("Could not save the pairing: %1.").arg(json.error()));
    // The store's write replaces in place; deleting first would leave nothing stored if the write
    // then failed.
    const Status written = co_await store.write(service(), account, json.value());
    if (!written)
        co_return Status::failure(QStringLiteral("Could not save the pairing: %1.").arg(written.error()));
    co_return Status();
}

QCoro::Task<Status> Keychain::clear() const
{
    SecretStore &store = m_store;
    const QString account = Keychain::account(m_userName());
    const Status removed = co_await store.remove(service(), account);
    if (!removed)
        Log::warn(QStringLiteral("could not clear the stored identity · %1").arg(removed.error()));
    co_return removed;
}

}  // namespace fennimar
