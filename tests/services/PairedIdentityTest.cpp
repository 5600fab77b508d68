#include "platform/PairedIdentity.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace fennimar;

namespace {

const QByteArray validJson =
    R"({"deviceId":"dev-1","childId":"child-7","childName":"Mia","sessionToken":"tok","pairedAt":786000000.25,"extra":true})";

QByteArray withMember(const char *key, const QJsonValue &value)
{
    QJsonObject object = QJsonDocument::fromJson(validJson).object();
    if (value.isUndefined())
        object.remove(QLatin1String(key));
    else
        object.insert(QLatin1String(key), value);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

TEST(PairedIdentityJson, RoundTripsToTheMillisecondCountingSecondsFromTheStartOf2001)
{
    const PairedIdentity identity{QStringLiteral("dev-ä"), QStringLiteral("child"), QStringLiteral("Zoë \"Z\""),
                                  QStringLiteral("secret/+="),
                                  QDateTime::fromMSecsSinceEpoch(978307200500LL + 86400000LL, QTimeZone::utc())};
    const auto json = identity.toJson();
    ASSERT_TRUE(json) << json.error().toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(*json).object().value(QStringLiteral("pairedAt")).toDouble(), 86400.5);
    EXPECT_EQ(PairedIdentity::fromJson(*json).value(), identity);

    const auto decoded = PairedIdentity::fromJson(validJson);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pairedAt,
              QDateTime::fromMSecsSinceEpoch((786000000LL + 978307200LL) * 1000 + 250, QTimeZone::utc()));
    EXPECT_TRUE(PairedIdentity::fromJson(withMember("pairedAt", 0)));  // an integral number is a number too
    EXPECT_FALSE(PairedIdentity{}.toJson());                           // no pairing time: nothing to store
}

TEST(PairedIdentityJson, DecodingRequiresAllFiveMembersWithTheirTypes)
{
    const struct {
        const char *what;
        QByteArray json;
    } cases[] = {
        {"not JSON", "{\"deviceId\":"},
        {"array root", "[]"},
        {"deviceId missing", withMember("deviceId", QJsonValue::Undefined)},
        {"pairedAt missing", withMember("pairedAt", QJsonValue::Undefined)},
        {"deviceId number", withMember("deviceId", 12)},
        {"childId null", withMember("childId", QJsonValue::Null)},
        {"childName object", withMember("childName", QJsonObject())},
        {"sessionToken bool", withMember("sessionToken", true)},
        {"pairedAt string", withMember("pairedAt", QStringLiteral("786000000"))},
        {"pairedAt ISO date", withMember("pairedAt", QStringLiteral("2025-11-27T10:00:00Z"))},
        {"pairedAt absurdly large", withMember("pairedAt", 1e300)},
    };
    for (const auto &c : cases) {
        const auto decoded = PairedIdentity::fromJson(c.json);
        ASSERT_FALSE(decoded) << c.what;
        EXPECT_FALSE(decoded.error().isEmpty()) << c.what;
    }
}

}  // namespace
