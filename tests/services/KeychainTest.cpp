#include "platform/Keychain.h"

#include "tests/fakes/Fakes.h"
#include "tests/support/LogCapture.h"

#include <QCoroTask>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace fennimar;
using test::FakeSecretStore;
using test::LogCapture;

namespace {

struct LoginName final : DeviceFacts {
    QString userNameText;
    QString vendor() override { return {}; }
    QString model() override { return {}; }
    bool hasInternalBattery() override { return false; }
    QString osVersion() override { return {}; }
    QString computerName() override { return {}; }
    QString userName() override { return userNameText; }
};

PairedIdentity identity(const QString &device)
{
    return {device, QStringLiteral("child-1"), QStringLiteral("Mia"), QStringLiteral("token-") + device,
            QDateTime::fromMSecsSinceEpoch(1773478800250, QTimeZone::utc())};
}

std::optional<PairedIdentity> load(const Keychain &keychain)
{
    return QCoro::waitFor(keychain.load());
}

Status save(const Keychain &keychain, const PairedIdentity &id)
{
    return QCoro::waitFor(keychain.save(id));
}

Status clear(const Keychain &keychain)
{
    return QCoro::waitFor(keychain.clear());
}

TEST(Keychain, SavesUnderTheAgentIdAndThePerUserAccount)
{
    FakeSecretStore store;
    const Keychain alice(store, QStringLiteral("alice"));
    const Keychain bob(store, QStringLiteral("bob"));

    EXPECT_EQ(load(alice), std::nullopt);
    ASSERT_TRUE(save(alice, identity(QStringLiteral("A"))));
    ASSERT_TRUE(save(bob, identity(QStringLiteral("B"))));
    ASSERT_EQ(store.secrets.size(), 2u);
    const auto key = std::make_pair(QStringLiteral("app.fennimar.Agent"), QStringLiteral("paired-identity-alice"));
    ASSERT_TRUE(store.secrets.count(key));
    EXPECT_EQ(PairedIdentity::fromJson(store.secrets.at(key)).value(), identity(QStringLiteral("A")));

    EXPECT_EQ(load(alice), identity(QStringLiteral("A")));
    // One user's unpair leaves the other's pairing.
    EXPECT_TRUE(clear(alice));
    EXPECT_EQ(load(alice), std::nullopt);
    EXPECT_EQ(load(bob), identity(QStringLiteral("B")));
    // The account follows the login name at each call.
    LoginName device;
    const Keychain current(store, device);
    device.userNameText = QStringLiteral("bob");
    EXPECT_EQ(load(current), identity(QStringLiteral("B")));
    device.userNameText = QStringLiteral("alice");
    EXPECT_EQ(load(current), std::nullopt);

    // Clearing what is not there succeeds quietly.
    LogCapture log;
    EXPECT_TRUE(clear(alice));
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST(Keychain, SavingReplacesInPlaceAndAFailedSaveKeepsThePreviousIdentity)
{
    FakeSecretStore store;
    const Keychain keychain(store, QStringLiteral("u"));
    ASSERT_TRUE(save(keychain, identity(QStringLiteral("first"))));
    ASSERT_TRUE(save(keychain, identity(QStringLiteral("second"))));
    EXPECT_EQ(store.secrets.size(), 1u);
    EXPECT_EQ(store.removes, 0) << "a save must never delete first: that leaves a moment with nothing stored";
    EXPECT_EQ(load(keychain), identity(QStringLiteral("second")));

    store.writeFailure = QStringLiteral("the secret store refused access");
    const Status failed = save(keychain, identity(QStringLiteral("third")));
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), QStringLiteral("Could not save the pairing: the secret store refused access."));
    EXPECT_EQ(load(keychain), identity(QStringLiteral("second")));

    // An identity that cannot be encoded never reaches the store.
    PairedIdentity undated = identity(QStringLiteral("undated"));
    undated.pairedAt = QDateTime();
    const int writes = store.writes;
    EXPECT_FALSE(save(keychain, undated));
    EXPECT_EQ(store.writes, writes);
}

TEST(Keychain, AnUnreadableItemIsNotPairedSilentlyAndIsLeftForTheNextSave)
{
    FakeSecretStore store;
    const Keychain keychain(store, QStringLiteral("u"));
    const auto key = std::make_pair(Keychain::service(), Keychain::account(QStringLiteral("u")));
    store.secrets[key] = R"({"deviceId":"d","childId":"c","childName":"n","sessionToken":"t","pairedAt":"soon"})";
    LogCapture log;
    EXPECT_EQ(load(keychain), std::nullopt);
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_TRUE(store.secrets.count(key));
    ASSERT_TRUE(save(keychain, identity(QStringLiteral("new"))));
    EXPECT_EQ(load(keychain), identity(QStringLiteral("new")));
}

TEST(Keychain, ALockedOrMissingStoreIsReportedNotTakenForNoPairing)
{
    const struct {
        const char *what;
        bool locked, unavailable;
        const char *cause;
    } cases[] = {
        {"locked", true, false, "the secret store is locked"},
        {"unavailable", false, true, "no secret store is running"},
    };
    for (const auto &c : cases) {
        FakeSecretStore store;
        const Keychain keychain(store, QStringLiteral("u"));
        ASSERT_TRUE(save(keychain, identity(QStringLiteral("kept"))));
        store.locked = c.locked;
        store.unavailable = c.unavailable;

        LogCapture log;
        EXPECT_EQ(load(keychain), std::nullopt) << c.what;
        const Status saved = save(keychain, identity(QStringLiteral("other")));
        EXPECT_EQ(saved.error(), QStringLiteral("Could not save the pairing: %1.").arg(QLatin1String(c.cause)))
            << c.what;
        EXPECT_FALSE(clear(keychain)) << c.what;
        EXPECT_EQ(log.lines(),
                  QStringList(
                      {QStringLiteral("WARN ] cannot read the stored identity · %1 · continuing as not paired")
                           .arg(QLatin1String(c.cause)),
                       QStringLiteral("WARN ] could not clear the stored identity · %1").arg(QLatin1String(c.cause))}))
            << c.what;

        // Once the store answers again the identity is still there.
        store.locked = store.unavailable = false;
        EXPECT_EQ(load(keychain), identity(QStringLiteral("kept"))) << c.what;
    }
}

}  // namespace
