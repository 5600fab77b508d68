#include "services/LoginItem.h"

#include "platform/UserSettings.h"
#include "services/AccessibilityPermission.h"
#include "services/AgentFiles.h"
#include "services/LaunchRules.h"
#include "tests/fakes/Fakes.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <vector>

using namespace fennimar;
using ItemRegistration = LoginService::Registration;

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
    ItemRegistration status;
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
        {{"first launch", ItemRegistration::NotRegistered, std::nullopt, {}}, {true, 0, 1, V, {registeredNew}}},
        {{"same version, enabled", ItemRegistration::Enabled, V, {}}, {true, 0, 0, V, {}}},
        {{"upgrade, enabled", ItemRegistration::Enabled, old, {}}, {true, 1, 1, V, {registeredAgain}}},
        {{"approval pending", ItemRegistration::RequiresApproval, old, {}}, {false, 0, 0, old, {needsApproval}}},
        {{"not found, registration fails", ItemRegistration::NotFound, std::nullopt, QStringLiteral("no unit")},
         {false, 0, 1, std::nullopt, {QStringLiteral("ERROR] login item registration failed · no unit")}}},
        {{"upgrade, registration fails keeps the old record", ItemRegistration::Enabled, old, QStringLiteral("denied")},
         {false, 1, 1, old, {QStringLiteral("ERROR] login item registration failed · denied")}}},
        // Unregistering its own job would make launchd kill it; the job already runs the new binary.
        {{"upgrade, started by the registration", ItemRegistration::Enabled, old, {}, true}, {true, 0, 0, V, {kept}}},
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

// Only an installed, non-headless (or opted-in) copy registers, and hands over where it can; under
// launchd only "another copy runs" is a successful exit of the job.
TEST(LoginItem, StartDecisionAndExitStatuses)
{
    using Start = LoginItem::Start;
    using End = LoginItem::End;
    const struct {
        const char *name;
        LoginItem::Launch launch;  // isJob, headless, installed, optedIn, canHandOver
        Start start;
        int anotherRuns, ran;  // exitStatus(End::..., isJob, 7)
    } cases[] = {
        {"build tree", {false, false, false, false, true}, Start::LeaveAlone, 3, 7},
        {"build tree, opted in", {false, false, false, true, false}, Start::Register, 3, 7},
        {"installed, headless", {false, true, true, true, true}, Start::LeaveAlone, 3, 7},
        // Also the first launch from the Finder: the job the registration starts meets this copy.
        {"installed", {false, false, true, false, true}, Start::RegisterThenHandOver, 3, 7},
        {"installed, no hand-over here", {false, false, true, false, false}, Start::Register, 3, 7},
        // SIGTERM, the menu's Quit and the system's Quit event all end a run: launchd restarts it.
        {"the job", {true, false, false, false, true}, Start::Register, 0, 75},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LoginItem::startDecision(c.launch), c.start);
        EXPECT_EQ(LoginItem::exitStatus(End::AnotherRuns, c.launch.isJob, 7), c.anotherRuns);
        EXPECT_EQ(LoginItem::exitStatus(End::Ran, c.launch.isJob, 7), c.ran);
    }
}

// The copy that started the job leaves only once another copy holds the lock.
TEST(LoginItem, HandOverLeavesOnlyWhenTheJobHoldsTheLock)
{
    using H = LoginItem::HandOver;
    const std::tuple<bool, bool, Millis, H> cases[] = {
        // kickstart succeeded, another copy holds the lock, time waited
        {true, false, Millis{0}, H::Wait},
        {true, true, Millis{400}, H::Leave},
        {true, false, LoginItem::handOverLimit, H::TakeBack},
        {false, true, Millis{0}, H::TakeBack},
    };
    for (const auto &[started, held, waited, step] : cases)
        EXPECT_EQ(LoginItem::handOverStep(started, held, waited), step) << started << held << waited.count();
}

TEST(LaunchRules, NoTrayOnlyForHeadlessAndControlOptionsWrittenExactly)
{
    const std::pair<std::vector<const char *>, bool> cases[] = {
        {{"fennimar"}, false},
        {{"fennimar", "--headless"}, true},
        {{"fennimar", "--yes", "--unpair"}, true},
        {{"fennimar", "--stat"}, false},
        {{"--headless"}, false},  // argv[0] is the program
    };
    for (const auto &[argv, noTray] : cases)
        EXPECT_EQ(LaunchRules::wantsNoTray(argv), noTray) << argv.back();
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
