#include "platform/Platform.h"

#include "platform/ControlClient.h"
#include "platform/ControlServer.h"
#include "platform/Notifier.h"
#include "platform/macos/BundleCatalog.h"
#include "platform/macos/FrontmostApp.h"
#include "platform/macos/MacAccessibility.h"
#include "platform/macos/MacDesktop.h"
#include "platform/macos/MacDeviceFacts.h"
#include "platform/macos/MacKeychainStore.h"
#include "platform/macos/MacLoginService.h"
#include "platform/macos/ProcessActivity.h"

#include <QDesktopServices>
#include <QUrl>
#include <QtGlobal>

namespace fennimar {

void prepareProcess()
{
    // The tray's QApplication brings the Cocoa dispatcher itself; --headless and the command line
    // need it asked for. A value set by whoever started us is kept.
    if (!qEnvironmentVariableIsSet("QT_EVENT_DISPATCHER_CORE_FOUNDATION"))
        qputenv("QT_EVENT_DISPATCHER_CORE_FOUNDATION", "1");
    macos::holdProcessActivity();
}

Platform createPlatform(Clock &clock)
{
    Platform platform;
    platform.apps = std::make_unique<macos::BundleCatalog>();
    platform.desktop = std::make_unique<macos::MacDesktop>(&macos::frontmostApplication);
    platform.accessibility = std::make_unique<macos::MacAccessibility>(
        clock, [](const QUrl &url) { return QDesktopServices::openUrl(url); });
    platform.device = std::make_unique<macos::MacDeviceFacts>();
    platform.login = std::make_unique<macos::MacLoginService>();
    platform.secrets = std::make_unique<macos::MacKeychainStore>();
    return platform;
}

namespace {
// The menu-bar item is always on screen on macOS, so nothing needs to reach the user another way,
// and the command line has no session bus to talk over: these stand in until a Mac needs them.
class NoNotifier : public Notifier {
public:
    void show(const Notice &) override {}
    void withdraw(const QString &) override {}
    void setActionHandler(ActionHandler) override {}
};

class NoControlServer : public ControlServer {
public:
    Claim listen(Handler) override { return Claim::Unavailable; }
    qint64 holderPid() const override { return 0; }
};

class NoControlClient : public ControlClient {
public:
    Result<QString> send(ControlCommand, Millis) override
    {
        return Result<QString>::failure(
            QStringLiteral("The command line cannot reach the agent on macOS; use its menu-bar item."));
    }
};
}  // namespace

std::unique_ptr<Notifier> createNotifier()
{
    return std::make_unique<NoNotifier>();
}

std::unique_ptr<ControlServer> createControlServer()
{
    return std::make_unique<NoControlServer>();
}

std::unique_ptr<ControlClient> createControlClient()
{
    return std::make_unique<NoControlClient>();
}

}  // namespace fennimar
