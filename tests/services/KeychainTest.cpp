#include "services/Keychain.h"

#include "tests/fakes/Fakes.h"

#include <QCoroTask>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace fennimar;

namespace {

PairedIdentity identity(const QString &device)
{
    return {device, QStringLiteral("child-1"), QStringLiteral("Mia"), QStringLiteral("token-") + device,
            QDateTime::fromMSecsSinceEpoch(1773478800250, QTimeZone::utc())};
}

// The store's rules on a fake store; a real locked or missing store is driven by QtKeychainStoreTest and
// AgentTroubleTest.
TEST(Keychain, ReplacesInPlaceAndKeepsThePreviousOnFailure)
{
    test::FakeSecretStore store;
    const Keychain keychain(store, QStringLiteral("alice"));
    ASSERT_TRUE(QCoro::waitFor(keychain.save(identity(QStringLiteral("first")))));
    ASSERT_TRUE(QCoro::waitFor(keychain.save(identity(QStringLiteral("kept")))));
    EXPECT_EQ(store.removes, 0) << "a save must never delete first: that leaves a moment with nothing stored";
    const auto key = std::make_pair(QStringLiteral("app.fennimar.Agent"), QStringLiteral("paired-identity-alice"));
    ASSERT_EQ(store.secrets.size(), 1u);
    EXPECT_EQ(PairedIdentity::fromJson(store.secrets.at(key)).value(), identity(QStringLiteral("kept")));
    store.writeFailure = QStringLiteral("the secret store refused access");
    EXPECT_EQ(QCoro::waitFor(keychain.save(identity(QStringLiteral("other")))).error(),
              QStringLiteral("Could not save the pairing: the secret store refused access."));
    store.writeFailure.clear();
    EXPECT_EQ(QCoro::waitFor(keychain.load()), identity(QStringLiteral("kept")));
}

}  // namespace
