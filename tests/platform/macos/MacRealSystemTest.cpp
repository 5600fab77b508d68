// The macOS layer on a real Mac: what only a real system gives without a person (no grants, no signing).

#include "platform/UserSettings.h"
#include "platform/macos/BundleCatalog.h"
#include "platform/macos/CFHelpers.h"
#include "platform/macos/MacDeviceFacts.h"
#include "platform/macos/MacKeychainStore.h"
#include "platform/macos/MacSession.h"
#include "platform/macos/sdk/AppleC.h"
#include "tests/support/TempHome.h"

#include <QUuid>
#include <gtest/gtest.h>

namespace fennimar::macos {
namespace {

TEST(MacRealSystem, SessionDeviceBundleAndPowerAssertions)
{
    EXPECT_TRUE(currentSession().present) << "CGSessionCopyCurrentDictionary gave no session";
    EXPECT_TRUE(secondsSinceInput().has_value());
    MacDeviceFacts device;
    EXPECT_FALSE(device.model().isEmpty());
    EXPECT_FALSE(device.computerName().isEmpty());
    const auto calculator = BundleCatalog::readBundle(QStringLiteral("/System/Applications/Calculator.app"));
    EXPECT_EQ(calculator ? calculator->bundleId : QString(), QStringLiteral("com.apple.calculator"));
    CFDictionaryRef byProcess = nullptr;
    EXPECT_EQ(IOPMCopyAssertionsByProcess(&byProcess), 0);  // kIOReturnSuccess
    EXPECT_TRUE(CFPtr<CFDictionaryRef>::adopt(byProcess));
}

TEST(MacRealSystem, SettingsAndKeychainRoundTrips)
{
    const test::ThrowawaySettings throwaway;
    platform::writeSetting(QStringLiteral("backendURL"), QStringLiteral("https://round.trip"));
    EXPECT_EQ(platform::readSetting(QStringLiteral("backendURL")), QStringLiteral("https://round.trip"));
    const QString service = QStringLiteral("app.fennimar.Agent.test-") + QUuid::createUuid().toString(QUuid::Id128);
    const QString account = QStringLiteral("round-trip");
    ASSERT_TRUE(MacKeychainStore::writeNow(service, account, "first").ok());
    EXPECT_TRUE(MacKeychainStore::writeNow(service, account, "second").ok());  // replaced in place
    EXPECT_EQ(MacKeychainStore::readNow(service, account).secret, QByteArray("second"));
    EXPECT_TRUE(MacKeychainStore::removeNow(service, account).ok());
    EXPECT_EQ(MacKeychainStore::readNow(service, account).error, SecretStore::ReadError::NotFound);
}

}  // namespace
}  // namespace fennimar::macos
