// The macOS adapters on the fake: missing releases or retains, values of other types, hung browsers, statuses.

#include "core/VirtualClock.h"
#include "platform/macos/CFHelpers.h"
#include "platform/macos/LoginServiceStatus.h"
#include "platform/macos/MacDesktop.h"
#include "platform/macos/MacAccessibility.h"
#include "platform/macos/MacKeychainStore.h"
#include "platform/macos/MacSession.h"
#include "tests/platform/macos/FakeAppleC.h"

#include <QCoroTask>

#include <gtest/gtest.h>

namespace fennimar::macos {
namespace {

using fake::AXNode;

class MacAdapters : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }
    void TearDown() override
    {
        fake::reset();
        EXPECT_EQ(fake::liveObjects(), 0) << "a CoreFoundation object was not released";
    }
};

// A browser window with `wide` childless groups; a web area after them only when asked for.
void scriptBrowser(int wide, bool withWebArea)
{
    std::vector<AXNode> nodes(2);
    nodes[0].attributes["AXFocusedWindow"] = 1;
    nodes[1].attributes["AXRole"] = QStringLiteral("AXWindow");
    std::vector<int> children;
    for (int i = 0; i < wide; ++i) {
        children.push_back(static_cast<int>(nodes.size()));
        nodes.push_back(AXNode{{{"AXRole", QStringLiteral("AXGroup")}, {"AXChildren", std::vector<int>{}}}});
    }
    if (withWebArea) {
        children.push_back(static_cast<int>(nodes.size()));
        nodes.push_back(AXNode{{{"AXRole", QStringLiteral("AXWebArea")},
                                {"AXURL", fake::AXUrl{QStringLiteral("https://example.com/page")}}}});
    }
    nodes[1].attributes["AXChildren"] = children;
    fake::state().nodes = std::move(nodes);
}

TEST_F(MacAdapters, AReadBalancesEveryReferenceAndStopsPayingForABrowserThatStoppedAnswering)
{
    struct Case {
        const char *name;
        int wide;
        bool webArea, trusted;
        int answered;  // -1: all
        AXError stopped;
        int msPerRequest;
        AddressOutcome outcome;
        int requests;
    };
    const Case cases[] = {
        {"web area found", 10, true, true, -1, kAXErrorCannotComplete, 0,
         AddressOutcome::url("https://example.com/page"), 1 + 2 + 2 * 10 + 2},
        {"1,500 elements examined", 1600, false, true, -1, kAXErrorCannotComplete, 0,
         AddressOutcome::unreadable("page too large to scan"), 1 + 2 + 2 * 1499},
        {"hung after 5 requests", 1600, true, true, 5, kAXErrorCannotComplete, 0,
         AddressOutcome::unreadable("no address found"), 6},
        {"trust withdrawn mid-read", 1600, true, true, 5, kAXErrorAPIDisabled, 0, AddressOutcome::noPermission(), 6},
        {"not trusted", 10, true, false, -1, kAXErrorCannotComplete, 0, AddressOutcome::noPermission(), 0},
        {"slow browser over the 400 ms budget", 1600, true, true, -1, kAXErrorCannotComplete, 10,
         AddressOutcome::unreadable("no address found"), 40},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        scriptBrowser(c.wide, c.webArea);
        VirtualClock clock;
        fake::State &s = fake::state();
        s.trusted = c.trusted;
        s.answeredRequests = c.answered;
        s.stoppedError = c.stopped;
        s.onRequest = [&] { clock.advance(Millis(c.msPerRequest)); };
        {
            MacAccessibility accessibility(clock, {});
            EXPECT_EQ(accessibility.readAddress(7), c.outcome);
        }
        EXPECT_EQ(s.requests, c.requests);
        EXPECT_FLOAT_EQ(s.systemWideTimeout, 0.2f);  // every request bounded, children included
        EXPECT_EQ(fake::liveObjects(), 0);
    }
}

TEST_F(MacAdapters, SessionLockKeyAbsentTrueFalseAndOtherUsersConsole)
{
    struct Case {
        const char *name;
        const char *key;  // null: outside a login session
        CFTypeRef value;
        bool present, locked, onConsole;
    };
    const Case cases[] = {
        {"outside a login session", nullptr, nullptr, false, false, true},
        {"lock key absent", "kCGSSessionOnConsoleKey", kCFBooleanTrue, true, false, true},
        {"locked", "CGSSessionScreenIsLocked", kCFBooleanTrue, true, true, true},
        {"not locked", "CGSSessionScreenIsLocked", kCFBooleanFalse, true, false, true},
        {"switched away", "kCGSSessionOnConsoleKey", kCFBooleanFalse, true, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        if (c.key) {
            const auto key = toCFString(QString::fromUtf8(c.key));
            const void *k = key.get(), *v = c.value;
            fake::state().session = CFPtr<CFDictionaryRef>::adopt(CFDictionaryCreate(
                nullptr, &k, &v, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
        }
        const SessionState s = currentSession();
        EXPECT_EQ(std::tuple(s.present, s.locked, s.onConsole), std::tuple(c.present, c.locked, c.onConsole));
    }
}

// A display-sleep assertion of the front pid is a video; music, another app's or a released one is not.
TEST_F(MacAdapters, TheFrontAppWatchesWhileItKeepsTheDisplayAwake)
{
    using Held = std::vector<std::pair<QString, int> >;
    struct Case {
        const char *name;
        int pid;
        Held held;
        bool watching;
    };
    const Case cases[] = {
        {"Chrome's video", 501, {{"PreventUserIdleSystemSleep", 255}, {"NoDisplaySleepAssertion", 255}}, true},
        {"Safari's video, no level listed", 501, {{"PreventUserIdleDisplaySleep", -1}}, true},
        {"released", 501, {{"PreventUserIdleDisplaySleep", 0}}, false},
        {"music", 501, {{"NoIdleSleepAssertion", 255}, {"PreventUserIdleSystemSleep", 255}}, false},
        {"another app's video", 502, {{"PreventUserIdleDisplaySleep", 255}}, false},
        {"the daemon fails", -1, {}, false},
    };
    MacDesktop desktop({});
    for (const Case &c : cases) {
        fake::reset();
        fake::state().assertionsFailure = c.pid < 0 ? -536870212 : 0;  // kIOReturnError
        fake::state().assertions = {{c.pid, c.held}, {7, {{"PreventUserIdleDisplaySleep", 255}}}};
        EXPECT_EQ(desktop.frontAppWatching(RunningApp{"com.google.Chrome", 501, {}, {}}), c.watching) << c.name;
    }
}

TEST_F(MacAdapters, KeychainStatusesReadAsCausesCallersCanActOn)
{
    using RE = SecretStore::ReadError;
    const std::pair<qint32, RE> cases[] = {
        {0, RE::None}, {-25300, RE::NotFound}, {-25308, RE::Locked}, {-25291, RE::Unavailable}, {-25299, RE::Other}};
    for (const auto &[status, kind] : cases)
        EXPECT_EQ(MacKeychainStore::errorKind(status), kind) << status;
}

TEST_F(MacAdapters, AFailedKeychainWriteKeepsTheOldSecret)
{
    const QString service = QStringLiteral("app.fennimar.Agent"), account = QStringLiteral("paired-identity-ana");
    ASSERT_TRUE(MacKeychainStore::writeNow(service, account, "first").ok());
    EXPECT_EQ(fake::state().items[std::pair(service, account)].accessible, QStringLiteral("ck"));  // AfterFirstUnlock
    fake::state().updateFailure = -25308;
    EXPECT_FALSE(MacKeychainStore::writeNow(service, account, "second").ok());
    fake::state().updateFailure = 0;
    EXPECT_EQ(QCoro::waitFor(MacKeychainStore().read(service, account)).secret, QByteArray("first"));
}

TEST_F(MacAdapters, LoginServiceStatusesIncludingOnesALaterSystemMayAdd)
{
    using S = LoginService::Registration;
    const std::pair<long, S> cases[] = {{0, S::NotRegistered}, {1, S::Enabled},  {2, S::RequiresApproval},
                                        {3, S::NotFound},      {4, S::NotFound}, {-1, S::NotFound}};
    for (const auto &[raw, status] : cases)
        EXPECT_EQ(loginStatusFromServiceManagement(raw), status) << raw;
}

// A build tree, a disk image or Downloads never register a login item: only a copy a parent installed.
TEST_F(MacAdapters, OnlyABundleInAnApplicationsFolderIsInstalled)
{
    const std::pair<const char *, bool> cases[] = {
        {"/Applications/Fennimar.app", true},
        {"/Applications/Kids/Fennimar.app", true},
        {"/Users/ann/Applications/Fennimar.app", false},  // the child can empty it
        {"/Users/ann/src/build/Fennimar.app", false},
        {"/Volumes/Fennimar/Fennimar.app", false},
        {"/ApplicationsOld/Fennimar.app", false},
        {"/Applications/fennimar-agent", false},
    };
    for (const auto &[dir, installed] : cases)
        EXPECT_EQ(installedBundle(QString::fromLatin1(dir).replace(".app", ".app/Contents/MacOS")), installed) << dir;
}

}  // namespace
}  // namespace fennimar::macos
