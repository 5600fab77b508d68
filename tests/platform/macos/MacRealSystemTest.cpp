// The macOS layer on a real Mac: what only a real system gives without a person (no signing; the
// Accessibility grant where the runner gives it to its shell, as GitHub's macOS images do).

#include "core/RealClock.h"
#include "platform/UserSettings.h"
#include "platform/macos/BundleCatalog.h"
#include "platform/macos/CFHelpers.h"
#include "platform/macos/MacDeviceFacts.h"
#include "platform/macos/MacAccessibility.h"
#include "platform/macos/MacKeychainStore.h"
#include "platform/macos/MacSession.h"
#include "platform/macos/sdk/AppleC.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QUuid>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

namespace fennimar::macos {
namespace {

TEST(MacRealSystem, SessionDeviceBundleAndPowerAssertions)
{
    EXPECT_TRUE(currentSession().present) << "CGSessionCopyCurrentDictionary gave no session";
    EXPECT_TRUE(secondsSinceInput().has_value());
    MacDeviceFacts device;
    EXPECT_FALSE(device.model().isEmpty());
    EXPECT_FALSE(device.computerName().isEmpty());
    const auto calculator = BundleCatalog::readBundle(QStringLiteral("/System/Applications/Calculator.app"));
    EXPECT_EQ(calculator ? calculator->bundleId : QString(), QStringLiteral("com.apple.calculator"));
    CFDictionaryRef byProcess = nullptr;
    EXPECT_EQ(IOPMCopyAssertionsByProcess(&byProcess), 0);  // kIOReturnSuccess
    EXPECT_TRUE(CFPtr<CFDictionaryRef>::adopt(byProcess));
}

TEST(MacRealSystem, SettingsAndKeychainRoundTrips)
{
    const test::ThrowawaySettings throwaway;
    platform::writeSetting(QStringLiteral("backendURL"), QStringLiteral("https://round.trip"));
    EXPECT_EQ(platform::readSetting(QStringLiteral("backendURL")), QStringLiteral("https://round.trip"));
    const QString service = QStringLiteral("app.fennimar.Agent.test-") + QUuid::createUuid().toString(QUuid::Id128);
    const QString account = QStringLiteral("round-trip");
    ASSERT_TRUE(MacKeychainStore::writeNow(service, account, "first").ok());
    EXPECT_TRUE(MacKeychainStore::writeNow(service, account, "second").ok());  // replaced in place
    EXPECT_EQ(MacKeychainStore::readNow(service, account).secret, QByteArray("second"));
    EXPECT_TRUE(MacKeychainStore::removeNow(service, account).ok());
    EXPECT_EQ(MacKeychainStore::readNow(service, account).error, SecretStore::ReadError::NotFound);
}

// The address of a page served here, read from each installed browser as the agent reads it.
TEST(MacRealSystem, ReadsTheAddressInEachInstalledBrowser)
{
    RealClock clock;
    MacAccessibility accessibility(clock, {});
    if (!accessibility.isTrusted())
        GTEST_SKIP() << "this process has no Accessibility grant (Privacy & Security > Accessibility)";
    test::LoopbackHttpServer server;
    server.respondEverywhere(
        test::LoopbackHttpServer::Response::make(200, "<p>probe</p>", {"Content-Type", "text/html"}));
    const QString page = server.baseUrl().toString() + QStringLiteral("/fennimar-address-probe");
    for (const QString &app : {QStringLiteral("Safari"), QStringLiteral("Google Chrome"), QStringLiteral("Firefox")}) {
        if (!QFileInfo::exists("/Applications/" + app + ".app")) {
            std::printf("SKIPPED browser %s: not installed\n", qPrintable(app));
            continue;
        }
        QProcess::execute(QStringLiteral("/usr/bin/open"), {QStringLiteral("-a"), app, page});
        QProcess pgrep;  // the main process is named after the app (Firefox's in lower case)
        qint64 pid = 0;
        AddressOutcome last;
        QElapsedTimer waited;  // a browser's first window and its web tree come up lazily
        for (waited.start(); waited.elapsed() < 60000 && last != AddressOutcome::url(page);) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 500);  // the server answers meanwhile
            pgrep.start(QStringLiteral("/usr/bin/pgrep"), {QStringLiteral("-nix"), app});
            if (pgrep.waitForFinished(5000) && (pid = pgrep.readAllStandardOutput().trimmed().toLongLong()) > 0)
                last = accessibility.readAddress(pid);
        }
        EXPECT_EQ(last.text, page) << qPrintable(app) << " answered kind " << int(last.kind);
        if (pid > 0)
            ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
}

}  // namespace
}  // namespace fennimar::macos
