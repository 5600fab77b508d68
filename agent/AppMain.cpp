#include "agent/AppMain.h"

#include "agent/Agent.h"
#include "agent/AgentConfig.h"
#include "agent/Log.h"
#include "backend/BuildIdentity.h"
#include "platform/LoginItem.h"
#include "platform/Platform.h"
#include "platform/QuitSignals.h"
#include "platform/RealClock.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace fennimar::AppMain {

namespace {
constexpr int exitUsage = 2;
constexpr int exitConfig = 78;  // EX_CONFIG
}  // namespace

int run(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Fennimar"));
    QCoreApplication::setApplicationName(QStringLiteral("Fennimar"));
    QCoreApplication::setApplicationVersion(BuildIdentity::appVersion());

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
        return 0;
    }

    const Result<QUrl> backend = AgentConfig::backendURL();
    if (!backend) {
        Log::error(backend.error());
        Log::drain();
        return exitConfig;
    }

    RealClock clock;
    Platform platform = createPlatform(clock);
    LoginItem(*platform.login, LoginItem::bundleVersion(BuildIdentity::appVersion(), BuildIdentity::buildNumber()))
        .ensureRegistered();

    Agent agent(clock, platform, backend.value(), AgentConfig::supportDirectory());
    installQuitSignals([] { QCoreApplication::quit(); });
    agent.start();

    QCoreApplication::exec();
    agent.flush();
    Log::drain();
    return 0;
}

}  // namespace fennimar::AppMain
