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

TEST(PairedIdentityJson, RoundTripsEveryFieldToTheMillisecond)
{
    const PairedIdentity identity{QStringLiteral("dev-ä"), QStringLiteral("child"), QStringLiteral("Zoë \"Z\""),
                                  QStringLiteral("secret/+="),
                                  QDateTime::fromMSecsSinceEpoch(1773478800123, QTimeZone::utc())};
    const auto json = identity.toJson();
    ASSERT_TRUE(json) << json.error().toStdString();
    EXPECT_FALSE(json.value().contains('\n'));  // compact
    const auto back = PairedIdentity::fromJson(json.value());
    ASSERT_TRUE(back) << back.error().toStdString();
    EXPECT_EQ(back.value(), identity);
    EXPECT_EQ(back->pairedAt.toMSecsSinceEpoch(), 1773478800123);
}

TEST(PairedIdentityJson, PairedAtCountsSecondsFromTheStartOf2001)
{
    PairedIdentity identity;
    identity.pairedAt = QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    EXPECT_EQ(QJsonDocument::fromJson(identity.toJson().value()).object().value(QStringLiteral("pairedAt")).toDouble(),
              0.0);
    identity.pairedAt = QDateTime::fromMSecsSinceEpoch(978307200500LL + 86400000LL, QTimeZone::utc());
    EXPECT_EQ(QJsonDocument::fromJson(identity.toJson().value()).object().value(QStringLiteral("pairedAt")).toDouble(),
              86400.5);

    const auto decoded = PairedIdentity::fromJson(validJson);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pairedAt,
              QDateTime::fromMSecsSinceEpoch((786000000LL + 978307200LL) * 1000 + 250, QTimeZone::utc()));
    EXPECT_EQ(decoded->childName, QStringLiteral("Mia"));

    // An integral number is a number too.
    EXPECT_TRUE(PairedIdentity::fromJson(withMember("pairedAt", 0)));
}

TEST(PairedIdentityJson, AnInvalidPairingTimeIsNotEncoded)
{
    EXPECT_FALSE(PairedIdentity{}.toJson());
}

TEST(PairedIdentityJson, DecodingRequiresAllFiveMembersWithTheirTypes)
{
    const struct {
        const char *what;
        QByteArray json;
    } cases[] = {
        {"not JSON", "{\"deviceId\":"},
        {"empty", ""},
        {"array root", "[]"},
        {"deviceId missing", withMember("deviceId", QJsonValue::Undefined)},
        {"childId missing", withMember("childId", QJsonValue::Undefined)},
        {"childName missing", withMember("childName", QJsonValue::Undefined)},
        {"sessionToken missing", withMember("sessionToken", QJsonValue::Undefined)},
        {"pairedAt missing", withMember("pairedAt", QJsonValue::Undefined)},
        {"deviceId number", withMember("deviceId", 12)},
        {"childId null", withMember("childId", QJsonValue::Null)},
        {"childName object", withMember("childName", QJsonObject())},
        {"sessionToken bool", withMember("sessionToken", true)},
        {"pairedAt string", withMember("pairedAt", QStringLiteral("786000000"))},
        {"pairedAt ISO date", withMember("pairedAt", QStringLiteral("2025-11-27T10:00:00Z"))},
        {"pairedAt absurdly large", withMember("pairedAt", 1e300)},
        {"pairedAt absurdly small", withMember("pairedAt", -1e300)},
    };
    for (const auto &c : cases) {
        const auto decoded = PairedIdentity::fromJson(c.json);
        ASSERT_FALSE(decoded) << c.what;
        EXPECT_FALSE(decoded.error().isEmpty()) << c.what;
    }
}

}  // namespace
