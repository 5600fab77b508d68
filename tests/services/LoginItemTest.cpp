#include "services/LoginItem.h"

#include "platform/UserSettings.h"
#include "services/AccessibilityPermission.h"
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
const QString kept = QStringLiteral("INFO ] login item kept (version changed) · 1.4.0+52 · this copy is its job");
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
    bool isJob = false;
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
        // Unregistering its own job would make launchd kill it; the job already runs the new binary.
        {{"upgrade, started by the registration", ItemStatus::Enabled, old, {}, true}, {true, 0, 0, V, {kept}}},
    };
    for (const auto &[given, expected] : cases) {
        SCOPED_TRACE(given.what);
        freshSettings(given.recorded);
        test::FakeLoginService service;
        service.current = given.status;
        service.registerFailure = given.registerFailure;
        LoginItem item(service, V, given.isJob);
        test::LogCapture log;
        EXPECT_EQ(item.ensureRegistered(), expected.result);
        EXPECT_EQ(service.unregisterCalls, expected.unregisters);
        EXPECT_EQ(service.registerCalls, expected.registers);
        EXPECT_EQ(AgentFiles::setting(QStringLiteral("loginItem.registeredBundleVersion")), expected.recorded);
        EXPECT_EQ(log.lines(), expected.lines);
    }
}

// Only an installed, non-headless (or opted-in) copy registers; others hand over; KeepAlive after failures only.
TEST(LoginItem, StartDecisionAndExitStatuses)
{
    using Start = LoginItem::Start;
    constexpr ItemStatus none = ItemStatus::NotRegistered, on = ItemStatus::Enabled;
    const struct {
        const char *name;
        LoginItem::Launch launch;  // isJob, headless, installed, optedIn, canHandOver
        ItemStatus status;
        Start start;
        int anotherRuns, quit;
    } cases[] = {
        {"build tree", {false, false, false, false, true}, on, Start::LeaveAlone, 3, 0},
        {"build tree, opted in", {false, false, false, true, true}, none, Start::Register, 3, 0},
        {"installed, headless", {false, true, true, true, true}, on, Start::LeaveAlone, 3, 0},
        {"installed, first launch", {false, false, true, false, true}, none, Start::Register, 3, 0},
        {"installed, job enabled", {false, false, true, false, true}, on, Start::HandOver, 3, 0},
        {"installed, no hand-over here", {false, false, true, false, false}, on, Start::Register, 3, 0},
        {"the job", {true, false, false, false, true}, on, Start::Register, 0, 75},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LoginItem::startDecision(c.launch, c.status), c.start);
        EXPECT_EQ(LoginItem::anotherRunsExit(c.launch.isJob, 3), c.anotherRuns);
        EXPECT_EQ(LoginItem::quitExit(c.launch.isJob), c.quit);
    }
}

// The settings never open on top of the system's own alert, and always once no alert will come.
TEST(AccessibilityPermission, SettingsOpenOnlyWhereNoAlertIsExpected)
{
    const std::tuple<bool, bool, int, bool> cases[] = {
        // trusted, the system alerts, earlier requests, settings opened
        {true, false, 3, false},
        {false, false, 0, true},
        {false, true, 0, false},
        {false, true, 1, true},  // the alert was dismissed
    };
    for (const auto &[trusted, alerts, earlier, settings] : cases)
        EXPECT_EQ(AccessibilityPermission::settingsNeeded(trusted, alerts, earlier), settings)
            << trusted << alerts << earlier;
}

}  // namespace
