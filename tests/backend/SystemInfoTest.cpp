// The device and build facts, with the backend's fallbacks.
#include "backend/BuildIdentity.h"
#include "backend/SystemInfo.h"
#include "platform/PlatformConstants.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

TEST(SystemInfo, VersionsArePaddedToThreeNumbers)
{
    const std::pair<const char *, const char *> cases[] = {
        {"12", "12.0.0"},     {"22.04", "22.4.0"}, {"14.2.1", "14.2.1"},    {"6.1.0-13-amd64", "6.1.0"},
        {"1.2.3.4", "1.2.3"}, {"", "0.0.0"},       {"trixie/sid", "0.0.0"}, {" 40 ", "40.0.0"},
    };
    for (const auto &[stated, padded] : cases)
        EXPECT_EQ(SystemInfo::paddedVersion(stated), padded) << stated;
}

TEST(SystemInfo, UnknownFactsTakeTheirFallbacksAndTheModelIsReadOnce)
{
    FakeDeviceFacts facts;
    facts.vendorText = "";
    facts.modelText = " ";
    facts.computerNameText = "";
    facts.battery = false;
    const SystemInfo system(facts);
    const QJsonObject expected{
        {"brand", "Unknown"},       {"model", "PC"},       {"os", platform::osName()}, {"os_version", "12.0.0"},
        {"device_type", "desktop"}, {"device_name", "PC"}, {"os_user", "robin"}};
    EXPECT_EQ(system.platformInfo(), expected);
    EXPECT_EQ(system.pairingDeviceType(), platform::osName() + "_desktop");
    facts.battery = true;
    facts.modelText = "Later";
    EXPECT_EQ(system.platformInfo()["device_type"], "laptop");
    EXPECT_EQ(system.platformInfo()["model"], "PC");
    EXPECT_EQ(facts.modelReads, 1);
}

TEST(BuildIdentity, EmptyVersionAndBuildNumberFallBack)
{
    EXPECT_EQ(BuildIdentity::payloadFor("", "", "12.0.0"), (QJsonObject{{"app_version", "0.1.0-dev"},
                                                                        {"build_number", "0"},
                                                                        {"platform", platform::osName()},
                                                                        {"os_version", "12.0.0"}}));
    EXPECT_FALSE(BuildIdentity::appVersion().isEmpty());
    EXPECT_FALSE(BuildIdentity::buildNumber().isEmpty());
}

}  // namespace
}  // namespace fennimar::test
