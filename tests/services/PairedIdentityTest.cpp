#include "services/PairedIdentity.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace fennimar;

namespace {

TEST(PairedIdentityJson, RoundTripsToTheMillisecondWithPairedAtInSecondsFrom2001)
{
    const PairedIdentity identity{QStringLiteral("dev-ä"), QStringLiteral("child"), QStringLiteral("Zoë \"Z\""),
                                  QStringLiteral("secret/+="),
                                  QDateTime::fromMSecsSinceEpoch(978307200500LL + 86400000LL, QTimeZone::utc())};
    const auto json = identity.toJson();
    ASSERT_TRUE(json) << json.error().toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(json.value()).object().value(QStringLiteral("pairedAt")).toDouble(), 86400.5);
    EXPECT_EQ(PairedIdentity::fromJson(json.value()).value(), identity);
    EXPECT_FALSE(PairedIdentity{}.toJson()) << "no pairing time";
}

TEST(PairedIdentityJson, DecodingRequiresAllFiveMembersWithTheirTypes)
{
    const QByteArray valid =
        R"({"deviceId":"d","childId":"c","childName":"Mia","sessionToken":"t","pairedAt":0,"extra":true})";
    EXPECT_EQ(PairedIdentity::fromJson(valid).value().pairedAt,
              QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()));
    const struct {
        const char *what, *key;
        QJsonValue value;
    } cases[] = {
        {"deviceId missing", "deviceId", QJsonValue::Undefined}, {"childId null", "childId", QJsonValue::Null},
        {"childName object", "childName", QJsonObject()},        {"sessionToken bool", "sessionToken", true},
        {"pairedAt string", "pairedAt", QStringLiteral("0")},    {"pairedAt absurd", "pairedAt", 1e300},
    };
    for (const auto &c : cases) {
        QJsonObject object = QJsonDocument::fromJson(valid).object();
        c.value.isUndefined() ? void(object.remove(QLatin1String(c.key)))
                              : void(object.insert(QLatin1String(c.key), c.value));
        EXPECT_FALSE(PairedIdentity::fromJson(QJsonDocument(object).toJson())) << c.what;
    }
    EXPECT_FALSE(PairedIdentity::fromJson("[]"));
    EXPECT_FALSE(PairedIdentity::fromJson("{\"deviceId\":"));
}

}  // namespace
