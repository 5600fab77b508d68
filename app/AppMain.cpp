#include "app/AppMain.h"

#include "agent/Agent.h"
#include "agent/AgentConfig.h"
#include "services/AgentFiles.h"
#include "menubar/AgentControl.h"
#include "app/ControlCommands.h"
#include "core/Log.h"
#include "menubar/MenuWiring.h"
#include "app/TrayLoader.h"
#include "backend/BuildIdentity.h"
#include "menubar/NoticeBoard.h"
#include "services/LaunchRules.h"
#include "services/LockFileInstance.h"
#include "services/LoginItem.h"
#include "services/RunMarker.h"
#include "platform/Platform.h"
#include "platform/PlatformTraits.h"
#include "platform/PlatformPaths.h"
#include "core/QuitSignals.h"
#include "core/RealClock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>
#include <QUrl>
#include <QThread>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace fennimar::AppMain {

namespace {
constexpr int exitUsage = 2;
// Not 0: a service manager restarts a clean exit (the agent restarts if quit), and must not
// restart a copy that found another one running; the systemd unit names 2, 3 and 78 as final.
constexpr int exitAlreadyRunning = 3;
constexpr int exitConfig = 78;  // EX_CONFIG

// The program a process runs, for LaunchRules' comparison of names: a process that runs this
// process's very file (platform::runsOurProgram) gets our own name, and another file at our path
// (lent by a mount in a user namespace) a name that cannot match it.
std::optional<QString> programOf(qint64 pid)
{
    const qint64 ownPid = QCoreApplication::applicationPid();
    const std::optional<QString> program = platform::executableOf(pid);
    if (pid == ownPid || !program || program->isEmpty())
        return program;
    const std::optional<QString> own = platform::executableOf(ownPid);
    if (platform::runsOurProgram(pid))
        return own;
    return program == own ? *program + QStringLiteral(" (another file at that path)") : *program;
}

// Who holds the agent's claim when it is not a copy of this program (LaunchRules::foreignHolder).
std::optional<QString> foreignHolder(qint64 pid)
{
    return LaunchRules::foreignHolder(pid, programOf(pid), programOf(QCoreApplication::applicationPid()));
}

// Starts the registered job and waits until it holds the lock (LoginItem::handOverStep). At most
// LoginItem::handOverLimit plus the start's own bound, before the event loop runs.
bool handedOver(LoginService &login, const LockFileInstance &lock, Clock &clock)
{
    const Status started = login.startRegistered();
    if (!started)
        Log::warn(QStringLiteral("could not hand over to the login item · ") + started.error());
    const Millis since = clock.monotonic();
    for (;;) {
        const qint64 holder = lock.currentHolder();
        const bool heldByCopy = holder != 0 && holder != QCoreApplication::applicationPid() && !foreignHolder(holder);
        switch (LoginItem::handOverStep(bool(started), heldByCopy, clock.monotonic() - since)) {
            case LoginItem::HandOver::Leave:
                Log::info(QStringLiteral("handed over to the login item · this copy is exiting"));
                return true;
            case LoginItem::HandOver::TakeBack:
                if (started)
                    Log::warn(QStringLiteral("the login item did not take over within %1 s · running here")
                                  .arg(LoginItem::handOverLimit.count() / 1000));
                return false;
            case LoginItem::HandOver::Wait:
                QThread::msleep(static_cast<unsigned long>(LoginItem::handOverPoll.count()));
                break;
        }
    }
}
}  // namespace

int run(int argc, char *argv[])
{
    // Before the first line, so that every line of this run reaches the file.
    if (const QString dir = platform::logDirectory(); !dir.isEmpty())
        Log::setFilePath(dir + QStringLiteral("/Fennimar.log"));
    // Without a display the agent still counts and reports, like --headless.
    const bool display = platform::hasDisplay();
    // The tray's module, with the widgets application, only when the tray is wanted.
    TrayModule *const trayModule =
        display && !LaunchRules::wantsNoTray({argv, static_cast<std::size_t>(argc)}) ? loadTrayModule() : nullptr;
    prepareProcess();
    const std::unique_ptr<QCoreApplication> app =
        trayModule ? trayModule->createApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Fennimar"));
    QCoreApplication::setApplicationName(QStringLiteral("Fennimar"));
    QCoreApplication::setApplicationVersion(BuildIdentity::packageVersion());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Fennimar: counts screen time in the apps and sites a parent picked."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("headless"), QStringLiteral("Run without the tray icon.")});
    for (const LaunchRules::ControlOption &o : LaunchRules::controlOptions())
        parser.addOption({QString::fromLatin1(o.name), QString::fromLatin1(o.help)});
    parser.addOption({QStringLiteral("yes"), QStringLiteral("Unpair without asking.")});
    if (!parser.parse(QCoreApplication::arguments())) {
        Log::error(parser.errorText());
        Log::drain();
        return exitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    std::vector<ControlCommand> asked;
    for (const LaunchRules::ControlOption &o : LaunchRules::controlOptions()) {
        if (parser.isSet(QString::fromLatin1(o.name)))
            asked.push_back(o.command);
    }
    if (asked.size() > 1) {
        QTextStream(stderr) << "Give one of --status, --pair, --cancel-pairing, --unpair.\n";
        return exitUsage;
    }
    if (!asked.empty()) {
        QTextStream in(stdin), out(stdout), err(stderr);
        const std::unique_ptr<ControlClient> client = createControlClient();
        return ControlCommands::run(*client, asked.front(), parser.isSet(QStringLiteral("yes")), in, out, err);
    }

    const LoginItem::Launch launch{qEnvironmentVariable(LoginItem::jobVariable) == QLatin1String("1"),
                                   parser.isSet(QStringLiteral("headless")), false,
                                   qEnvironmentVariable(LoginItem::optInVariable) == QLatin1String("1")};

    // The directory first: the single-instance lock lives in it, beside the ledger it guards.
    const Result<QString> support = AgentFiles::privateSupportDirectory();
    if (!support) {
        Log::error(support.error());
        Log::drain();
        return exitConfig;
    }
    // The lock, then the control channel (LaunchRules::claim). Calls wait in the bus until the event
    // loop runs, by which time `control` is set.
    AgentControl *control = nullptr;
    std::unique_ptr<ControlServer> controlServer;
    std::unique_ptr<LockFileInstance> instance;
    QStringList impostors;  // held by another program: run anyway, and say so
    const auto claim = [&] {
        controlServer = createControlServer();
        instance = std::make_unique<LockFileInstance>(support.value());
        const auto handler = [&control](ControlCommand command, auto reply) {
            if (control)
                control->handle(command, std::move(reply));
            else
                reply(QStringLiteral("Fennimar is starting; try again in a moment.\n"));
        };
        LaunchRules::Claim claimed =
            LaunchRules::claim(*instance, *controlServer, handler, &programOf, QCoreApplication::applicationPid());
        impostors = std::move(claimed.impostors);
        if (claimed.run)
            return true;
        Log::info(QStringLiteral("another Fennimar is already running · this copy is exiting"));
        Log::drain();
        return false;
    };
    if (!claim())
        return LoginItem::exitStatus(LoginItem::End::AnotherRuns, launch.isJob, exitAlreadyRunning);

    const Result<QUrl> backend = AgentConfig::backendURL();
    if (!backend) {
        Log::error(backend.error());
        Log::drain();
        return exitConfig;
    }

    RealClock clock;
    Platform platform = createPlatform(clock);
    if (!impostors.isEmpty())
        platform.tamper->raise(QStringLiteral("agent's claim"),
                               impostors.join(QStringLiteral("; ")) + QStringLiteral(" · running anyway"));
    LoginItem loginItem(*platform.login,
                        LoginItem::bundleVersion(BuildIdentity::appVersion(), BuildIdentity::buildNumber()),
                        launch.isJob);
    LoginItem::Launch here = launch;
    here.installed = platform.login->runsInstalled();
    here.canHandOver = platform.login->canHandOver();
    const LoginItem::Start start = LoginItem::startDecision(here);
    if (start == LoginItem::Start::LeaveAlone)
        Log::info(QStringLiteral("login item left alone · not an installed copy, or --headless"));
    else if (loginItem.ensureRegistered() && start == LoginItem::Start::RegisterThenHandOver &&
             loginItem.status() == LoginService::Registration::Enabled) {
        // The job must find the lock and the channel free; it is started now even when the
        // registration just started it, since that start met this copy's lock and gave way.
        instance.reset();
        controlServer.reset();
        if (handedOver(*platform.login, LockFileInstance(support.value()), clock)) {
            Log::drain();
            return LoginItem::exitStatus(LoginItem::End::HandedOver, false, 0);
        }
        if (!claim())
            return LoginItem::exitStatus(LoginItem::End::AnotherRuns, false, exitAlreadyRunning);
    }

    // Only the copy that runs records its run: one that defers or hands over leaves the running
    // copy's record.
    RunMarker runMarker(support.value());
    runMarker.begin(clock.now());
    Agent agent(clock, platform, backend.value(), support.value());
    agent.keepEvidenceIn(runMarker);

    // The menu, the notices and the control channel read the agent from its first change on, so
    // they exist before the agent starts.
    MenuWiring wiring(agent, platform, loginItem, clock);
    const auto readings = [&wiring] { return wiring.readings(); };
    // However it is asked to quit, the job exits with a status that makes launchd start it again.
    const MenuActions actions = wiring.actions([] { QCoreApplication::quit(); });
    std::unique_ptr<TrayIcon> tray;
    if (trayModule)
        tray = trayModule->createTray(clock, readings, actions);
    else if (!display)
        Log::info(QStringLiteral("no display · running without the tray icon"));
    // Without a tray icon on screen (no tray host, as on stock GNOME, or no tray at all) the user
    // learns the pair code and what to fix from notifications.
    const std::unique_ptr<Notifier> notifier = createNotifier();
    NoticeBoard notices(
        *notifier, readings, [t = tray.get()] { return t && t->iconShown(); },
        [trayModule](const QString &text) {
            if (trayModule)
                trayModule->copyToClipboard(text);
        },
        actions);
    AgentControl agentControl(agent, clock, readings);
    control = &agentControl;
    agent.onChange = [&] {
        if (tray)
            tray->refreshIcon();
        notices.refresh();
        agentControl.agentChanged();
    };

    installQuitSignals([] { QCoreApplication::quit(); });
    agent.start();

    const int status = QCoreApplication::exec();
    agent.flush();
    // Nothing may redraw a tray that is about to go.
    agent.onChange = nullptr;
    control = nullptr;
    tray.reset();
    runMarker.end(clock.now());
    Log::drain();
    return LoginItem::exitStatus(LoginItem::End::Ran, launch.isJob, status);
}

}  // namespace fennimar::AppMain
