// Strict reading of the backend's records.
#include "backend/BackendRecords.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace fennimar {
namespace {

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

TEST(Records, RequiredMembersAndTypesAreEnforced)
{
    const struct {
        const char *type, *json, *failure;  // failure empty: decodes
    } cases[] = {
        {"PairingTicket", R"({"token":"t","pair_code":"C","device_id":"d","expires_at":"x","more":1})", ""},
        {"PairingTicket", R"({"token":"t","device_id":"d","expires_at":"x"})", R"(member "pair_code" is missing)"},
        {"PairingTicket", R"({"token":"t","pair_code":7,"device_id":"d","expires_at":"x"})",
         R"(member "pair_code" is not a string)"},
        {"SetupStatus", R"({"claimed":false,"expired":false})", ""},
        {"SetupStatus", R"({"claimed":"true","expired":false})", R"(member "claimed" is not a boolean)"},
        {"SetupStatus", R"({"claimed":true,"expired":false,"child":{"name":5}})",
         R"(member "child.name" is not a string)"},
        {"InstalledAppsResponse", R"({})", ""},
        {"InstalledAppsResponse", R"({"apps":{}})", R"(member "apps" is not an array)"},
        {"InstalledAppsResponse", R"({"apps":[{"package_id":"web:a.com","is_blocked":1}]})",
         R"(member "apps[0].is_blocked" is not a boolean)"},
        {"AppsSeenResponse", R"({})", ""},
        {"AppsSeenResponse", R"({"new":null,"recorded":2.0})", ""},
        {"AppsSeenResponse", R"({"new":1.5})", R"(member "new" is not an integer)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(decodeFailure(c.type, c.json), QString::fromUtf8(c.failure)) << c.type << " " << c.json;
}

}  // namespace
}  // namespace fennimar
