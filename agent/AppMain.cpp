#include "agent/AppMain.h"

#include "agent/Agent.h"
#include "agent/AgentConfig.h"
#include "agent/Log.h"
#include "agent/MenuWiring.h"
#include "backend/BuildIdentity.h"
#include "menubar/TrayMenu.h"
#include "platform/LoginItem.h"
#include "platform/Platform.h"
#include "platform/QuitSignals.h"
#include "platform/RealClock.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstring>
#include <memory>

namespace fennimar::AppMain {

namespace {
constexpr int exitUsage = 2;
// Not 0: a service manager restarts a clean exit (the agent restarts if quit), and must not
// restart a copy that found another one running; the systemd unit names 2, 3 and 78 as final.
constexpr int exitAlreadyRunning = 3;
constexpr int exitConfig = 78;  // EX_CONFIG

// The tray needs a display; without one (a start from a console or a service manager before the
// session is up) the agent still counts and reports, like --headless. An empty variable names no
// display.
bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The application object is chosen before the command line is parsed, because the widgets
// application connects to the display in its constructor and must not when headless.
bool askedHeadless(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            return true;
    }
    return false;
}
}  // namespace

int run(int argc, char *argv[])
{
    const bool display = hasDisplay();
    const bool withTray = display && !askedHeadless(argc, argv);
    const std::unique_ptr<QCoreApplication> app =
        withTray ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Fennimar"));
    QCoreApplication::setApplicationName(QStringLiteral("Fennimar"));
    QCoreApplication::setApplicationVersion(BuildIdentity::packageVersion());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Fennimar: counts screen time in the apps and sites a parent picked."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("headless"), QStringLiteral("Run without the tray icon.")});
    if (!parser.parse(QCoreApplication::arguments())) {
        Log::error(parser.errorText());
        Log::drain();
        return exitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    const std::unique_ptr<SingleInstance> instance = createSingleInstance();
    if (!instance->claim()) {
        Log::info(QStringLiteral("another Fennimar is already running · this copy is exiting"));
        Log::drain();
        return exitAlreadyRunning;
    }

    const Result<QUrl> backend = AgentConfig::backendURL();
    if (!backend) {
        Log::error(backend.error());
        Log::drain();
        return exitConfig;
    }

    RealClock clock;
    Platform platform = createPlatform(clock);
    LoginItem loginItem(*platform.login,
                        LoginItem::bundleVersion(BuildIdentity::appVersion(), BuildIdentity::buildNumber()));
    loginItem.ensureRegistered();

    Agent agent(clock, platform, backend.value(), AgentConfig::supportDirectory());

    // The menu reads the agent from its first icon on, so it exists before the agent starts.
    std::unique_ptr<MenuWiring> wiring;
    std::unique_ptr<TrayMenu> tray;
    if (withTray) {
        wiring = std::make_unique<MenuWiring>(agent, platform, loginItem, clock);
        tray = std::make_unique<TrayMenu>(
            clock, [w = wiring.get()] { return w->readings(); }, wiring->actions([] { QCoreApplication::quit(); }));
        agent.onChange = [t = tray.get()] { t->refreshIcon(); };
    } else if (!display) {
        Log::info(QStringLiteral("no display · running without the tray icon"));
    }

    installQuitSignals([] { QCoreApplication::quit(); });
    agent.start();

    QCoreApplication::exec();
    agent.flush();
    // Nothing may redraw a tray that is about to go.
    agent.onChange = nullptr;
    tray.reset();
    Log::drain();
    return 0;
}

}  // namespace fennimar::AppMain
