// The macOS layer on the Mac it runs on (the hosted macOS runner or a developer's Mac): the answers
// only a real system gives. What needs the Accessibility grant is checked without it; the keychain
// and the login item are left out, because on an unsigned test binary they prompt or refuse.

#include "platform/VirtualClock.h"
#include "platform/macos/BundleCatalog.h"
#include "platform/macos/MacAccessibility.h"
#include "platform/macos/MacDeviceFacts.h"
#include "platform/macos/MacSession.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <unistd.h>

namespace fennimar::macos {
namespace {

TEST(MacRealSystem, DeviceFactsNameThisMac)
{
    MacDeviceFacts facts;
    EXPECT_EQ(facts.vendor(), QStringLiteral("Apple"));
    EXPECT_TRUE(facts.model().contains(QLatin1String("Mac"))) << facts.model().toStdString();  // VirtualMac2,1 on a VM
    const QRegularExpressionMatch version =
        QRegularExpression(QStringLiteral("^(\\d+)\\.\\d+\\.\\d+$")).match(facts.osVersion());
    ASSERT_TRUE(version.hasMatch()) << facts.osVersion().toStdString();
    EXPECT_GE(version.captured(1).toInt(), 13);
    EXPECT_FALSE(facts.computerName().isEmpty());
    EXPECT_EQ(facts.userName(), qEnvironmentVariable("USER"));
}

TEST(MacRealSystem, SafariIsAnInstalledBundle)
{
    BundleCatalog catalog;
    bool found = false;
    for (const SeenApp &app : catalog.installedApps())
        found = found || app.bundleId == QLatin1String("com.apple.Safari");
    EXPECT_TRUE(found);
    const RunningApp safari{QStringLiteral("com.apple.Safari"), 1, QStringLiteral("Safari"),
                            QStringLiteral("/Applications/Safari.app")};
    const std::optional<SeenApp> described = catalog.describe(safari);
    ASSERT_TRUE(described);
    EXPECT_EQ(described->name, QStringLiteral("Safari"));
}

TEST(MacRealSystem, InputClockAndSession)
{
    EXPECT_TRUE(secondsSinceInput().has_value());
    if (!currentSession().present)
        GTEST_SKIP() << "no window-server session (a runner without a logged-in desktop)";
}

TEST(MacRealSystem, WithoutTheGrantAReadIsNoPermission)
{
    VirtualClock clock;
    MacAccessibility accessibility(clock, {});
    if (accessibility.isTrusted())
        GTEST_SKIP() << "this process holds the Accessibility grant";
    EXPECT_EQ(accessibility.readAddress(::getpid()), AddressOutcome::noPermission());
}

}  // namespace
}  // namespace fennimar::macos
