// Strict reading of the backend's records, the package selection and the expiry date format.
#include "backend/BackendRecords.h"
#include "backend/ISO8601DateFormatter.h"
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
    ::testing::Values(
        DecodeCase{"PairingTicket", R"({"token":"t","pair_code":"C","device_id":"d","expires_at":"x","more":1})",
                   nullptr},
        DecodeCase{"PairingTicket", R"({"token":"t","device_id":"d","expires_at":"x"})",
                   R"(member "pair_code" is missing)"},
        DecodeCase{"PairingTicket", R"({"token":"t","pair_code":7,"device_id":"d","expires_at":"x"})",
                   R"(member "pair_code" is not a string)"},
        DecodeCase{"PairingTicket", R"({"token":null,"pair_code":"C","device_id":"d","expires_at":"x"})",
                   R"(member "token" is null)"},
        DecodeCase{"PairingTicket", R"([1,2])", "the body is not a JSON object"},
        DecodeCase{"PairingTicket", "<html>", "not JSON (illegal value at offset 1)"},
        DecodeCase{"SetupStatus", R"({"claimed":false,"expired":false})", nullptr},
        DecodeCase{"SetupStatus", R"({"claimed":true,"expired":false,"child":null,"device_name":null})", nullptr},
        DecodeCase{"SetupStatus", R"({"claimed":"true","expired":false})", R"(member "claimed" is not a boolean)"},
        DecodeCase{"SetupStatus", R"({"claimed":true})", R"(member "expired" is missing)"},
        DecodeCase{"SetupStatus", R"({"claimed":true,"expired":false,"child_id":5})",
                   R"(member "child_id" is not a string)"},
        DecodeCase{"SetupStatus", R"({"claimed":true,"expired":false,"child":{"name":5}})",
                   R"(member "child.name" is not a string)"},
        DecodeCase{"InstalledAppsResponse", R"({})", nullptr},
        DecodeCase{"InstalledAppsResponse", R"({"apps":null})", nullptr},
        DecodeCase{"InstalledAppsResponse", R"({"apps":{}})", R"(member "apps" is not an array)"},
        DecodeCase{"InstalledAppsResponse", R"({"apps":[{},"x"]})", R"(member "apps[1]" is not an object)"},
        DecodeCase{"InstalledAppsResponse", R"({"apps":[{"package_id":"web:a.com","is_blocked":1}]})",
                   R"(member "apps[0].is_blocked" is not a boolean)"},
        DecodeCase{"InstalledAppsResponse", R"({"apps":[{"package_id":3}]})",
                   R"(member "apps[0].package_id" is not a string)"},
        DecodeCase{"AppsSeenResponse", R"({})", nullptr},
        DecodeCase{"AppsSeenResponse", R"({"new":null,"recorded":2.0})", nullptr},
        DecodeCase{"AppsSeenResponse", R"({"new":1.5})", R"(member "new" is not an integer)"},
        DecodeCase{"AppsSeenResponse", R"({"new":"1"})", R"(member "new" is not an integer)"}));

TEST(Iso8601, FractionalSecondsAndZoneAreRequired)
{
    const auto &format = ISO8601DateFormatter::fennimar();
    const QDateTime base(QDate(2025, 3, 1), QTime(12, 34, 56, 789), Qt::UTC);
    const std::pair<const char *, std::optional<QDateTime>> cases[] = {
        {"2025-03-01T12:34:56.789Z", base},
        {"2025-03-01T14:34:56.789+02:00", base},
        {"2025-03-01T12:34:56.7Z", base.addMSecs(-89)},
        {"2025-03-01T12:34:56.789123Z", base},
        {"2025-03-01T12:34:56Z", std::nullopt},
        {"2025-03-01T12:34:56.789", std::nullopt},
        {"2025-03-01 12:34:56.789Z", std::nullopt},
        {"2025-02-30T12:34:56.789Z", std::nullopt},
        {"2025-03-01T24:00:00.000Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(format.date(text), expected) << text;
    EXPECT_EQ(format.string(base), "2025-03-01T12:34:56.789Z");
}

}  // namespace
}  // namespace fennimar
