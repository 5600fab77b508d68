// Strict reading of the backend's records.
#include "backend/BackendRecords.h"
#include "tests/backend/BackendTestSupport.h"

#include <gtest/gtest.h>

namespace fennimar {
namespace {

struct DecodeCase {
    const char *type;
    const char *json;
    const char *failure;  // nullptr: decodes
};

QString decodeFailure(const QString &type, const QByteArray &json)
{
    auto reason = [](const auto &result) { return result.ok() ? QString() : result.error(); };
    if (type == "PairingTicket")
        return reason(PairingTicket::fromJson(json));
    if (type == "SetupStatus")
        return reason(SetupStatus::fromJson(json));
    if (type == "InstalledAppsResponse")
        return reason(InstalledAppsResponse::fromJson(json));
    return reason(AppsSeenResponse::fromJson(json));
}

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, RequiredMembersAndTypesAreEnforced)
{
    const DecodeCase &c = GetParam();
    const QString failure = decodeFailure(c.type, c.json);
    if (c.failure)
        EXPECT_EQ(failure, c.failure) << c.type << " " << c.json;
    else
        EXPECT_TRUE(failure.isEmpty()) << c.type << " " << c.json << ": " << failure.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Records, DecodeTest,
    ::testing::Values(DecodeCase{"PairingTicket",
                                 R"({"token":"t","pair_code":"C","device_id":"d","expires_at":"x","more":1})", nullptr},
                      DecodeCase{"PairingTicket", R"({"token":"t","device_id":"d","expires_at":"x"})",
                                 R"(member "pair_code" is missing)"},
                      DecodeCase{"PairingTicket", R"({"token":"t","pair_code":7,"device_id":"d","expires_at":"x"})",
                                 R"(member "pair_code" is not a string)"},
                      DecodeCase{"SetupStatus", R"({"claimed":false,"expired":false})", nullptr},
                      DecodeCase{"SetupStatus", R"({"claimed":"true","expired":false})",
                                 R"(member "claimed" is not a boolean)"},
                      DecodeCase{"SetupStatus", R"({"claimed":true,"expired":false,"child":{"name":5}})",
                                 R"(member "child.name" is not a string)"},
                      DecodeCase{"InstalledAppsResponse", R"({})", nullptr},
                      DecodeCase{"InstalledAppsResponse", R"({"apps":{}})", R"(member "apps" is not an array)"},
                      DecodeCase{"InstalledAppsResponse", R"({"apps":[{"package_id":"web:a.com","is_blocked":1}]})",
                                 R"(member "apps[0].is_blocked" is not a boolean)"},
                      DecodeCase{"AppsSeenResponse", R"({})", nullptr},
                      DecodeCase{"AppsSeenResponse", R"({"new":null,"recorded":2.0})", nullptr},
                      DecodeCase{"AppsSeenResponse", R"({"new":1.5})", R"(member "new" is not an integer)"}));

}  // namespace
}  // namespace fennimar
