#include "services/LoginItem.h"

#include "platform/UserSettings.h"
#include "services/AgentFiles.h"
#include "tests/fakes/Fakes.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace fennimar;
using ItemStatus = LoginService::Status;

namespace {

const QString V = QStringLiteral("1.4.0+52");
const QString registeredNew =
    QStringLiteral("INFO ] login item registered (new) · 1.4.0+52 · starts at login, restarts if quit");
const QString registeredAgain =
    QStringLiteral("INFO ] login item registered (version changed) · 1.4.0+52 · starts at login, restarts if quit");
const QString needsApproval =
    QStringLiteral("WARN ] login item needs approval in System Settings > General > Login Items");

void freshSettings(const std::optional<QString> &recorded)
{
    platform::clearThrowawaySettings();  // the binary's own store (tests/support/TestMain.cpp)
    if (recorded)
        AgentFiles::setSetting(QStringLiteral("loginItem.registeredBundleVersion"), *recorded);
}

struct Given {
    const char *what;
    ItemStatus status;
    std::optional<QString> recorded;
    QString registerFailure;
};
struct Expected {
    bool result;
    int unregisters, registers;
    std::optional<QString> recorded;
    QStringList lines;
};

TEST(LoginItem, RegistersOncePerVersionAndLogsEachOutcome)
{
    const QString old = QStringLiteral("1.3.0+40");
    const std::pair<Given, Expected> cases[] = {
        {{"first launch", ItemStatus::NotRegistered, std::nullopt, {}}, {true, 0, 1, V, {registeredNew}}},
        {{"same version, enabled", ItemStatus::Enabled, V, {}}, {true, 0, 0, V, {}}},
        {{"upgrade, enabled", ItemStatus::Enabled, old, {}}, {true, 1, 1, V, {registeredAgain}}},
        {{"approval pending", ItemStatus::RequiresApproval, old, {}}, {false, 0, 0, old, {needsApproval}}},
        {{"not found, registration fails", ItemStatus::NotFound, std::nullopt, QStringLiteral("no unit")},
         {false, 0, 1, std::nullopt, {QStringLiteral("ERROR] login item registration failed · no unit")}}},
        {{"upgrade, registration fails keeps the old record", ItemStatus::Enabled, old, QStringLiteral("denied")},
         {false, 1, 1, old, {QStringLiteral("ERROR] login item registration failed · denied")}}},
    };
    for (const auto &[given, expected] : cases) {
        SCOPED_TRACE(given.what);
        freshSettings(given.recorded);
        test::FakeLoginService service;
        service.current = given.status;
        service.registerFailure = given.registerFailure;
        LoginItem item(service, V);

        test::LogCapture log;
        EXPECT_EQ(item.ensureRegistered(), expected.result);
        EXPECT_EQ(service.unregisterCalls, expected.unregisters);
        EXPECT_EQ(service.registerCalls, expected.registers);
        EXPECT_EQ(AgentFiles::setting(QStringLiteral("loginItem.registeredBundleVersion")), expected.recorded);
        EXPECT_EQ(log.lines(), expected.lines);
    }
}

}  // namespace
