#include "tests/support/DesktopSession.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <unistd.h>

namespace fennimar::test {

bool waitUntil(const std::function<bool()> &pred, int timeoutMs, int stepMs)
{
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer pause;
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        for (pause.start(); pause.elapsed() < stepMs; QThread::msleep(5))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

std::optional<QByteArray> runProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                                     int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

QStringList missingTools(const QStringList &programs)
{
    QStringList missing;
    for (const QString &program : programs)
        if (QStandardPaths::findExecutable(program).isEmpty())
            missing << program;
    return missing;
}

void endProcessGroup(QProcess &leader, int graceMs)
{
    const auto group = static_cast<pid_t>(leader.processId());
    if (group <= 0)
        return;
    ::kill(-group, SIGCONT);  // a test may have stopped it
    ::kill(group, SIGTERM);
    leader.waitForFinished(graceMs);
    for (int signal : {SIGTERM, SIGKILL}) {
        ::kill(-group, signal);
        // The leader is reaped here; the init process reaps the orphans of a leader that died first.
        if (waitUntil([&] { return leader.waitForFinished(0), ::kill(-group, 0) != 0; }, 2000, 20))
            break;
    }
}

namespace {

const QString launcherPath = "/usr/libexec/at-spi-bus-launcher";

QString readLine(QProcess *process, int timeoutMs)
{
    waitUntil([&] { return process->canReadLine() || process->state() == QProcess::NotRunning; }, timeoutMs);
    return QString::fromUtf8(process->readLine()).trimmed();
}

}  // namespace

DesktopSession::~DesktopSession()
{
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
        endProcessGroup(**it, 2000);
    if (m_server)
        endProcessGroup(*m_server, 2000);
    if (!m_busAddress.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
}

QString DesktopSession::start(bool accessibility)
{
    QStringList tools = {"Xvfb", "openbox", "xdotool", "xprop"};
    if (accessibility)
        tools << "dbus-daemon";
    if (const QStringList missing = missingTools(tools); !missing.isEmpty())
        return QStringLiteral("missing %1 (scripts/install-deps.sh)").arg(missing.join(", "));
    if (accessibility && !QFile::exists(launcherPath))
        return QStringLiteral("missing %1 (at-spi2-core)").arg(launcherPath);
    for (const char *dir : {"/.config", "/.local/share", "/.cache", "/runtime"})
        QDir().mkpath(m_home.path() + QLatin1String(dir));
    QFile::setPermissions(m_home.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (const QString why = startX(); !why.isEmpty())
        return why;
    return accessibility ? startBus() : QString();
}

QString DesktopSession::startX()
{
    // A window manager that exits at once (X server just left the display number) gets a fresh server.
    QString why = "Xvfb did not start";
    for (int attempt = 0; attempt < 3; ++attempt) {
        // -displayfd picks a free display number, so tests running side by side never collide.
        m_server = std::make_unique<QProcess>();
        m_server->setChildProcessModifier([] { ::setsid(); });
        m_server->start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x900x24"});
        m_display = m_server->waitForStarted(10000) ? ':' + readLine(m_server.get(), 30000).toLatin1() : QByteArray();
        const QString socket = "/tmp/.X11-unix/X" + QString::fromLatin1(m_display.mid(1));
        if (m_display.size() < 2 || !waitUntil([&] { return QFile::exists(socket); }, 30000))
            continue;
        QProcess *wm = spawn("openbox", {"--sm-disable"});
        // openbox is ready once it has claimed the window-manager selection of screen 0.
        const auto managed = [&] {
            const auto out = run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
            return (out && out->contains("window id")) || wm->state() != QProcess::Running;
        };
        if (wm && waitUntil(managed, 30000, 100) && wm->state() == QProcess::Running)
            return {};
        QFile log(m_home.filePath("openbox.log"));
        why = QStringLiteral("openbox did not take over display %1: %2")
                  .arg(QString::fromLatin1(m_display),
                       log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll().right(2000)) : QString());
        if (wm) {
            endProcessGroup(*m_processes.back(), 2000);
            m_processes.pop_back();
        }
        endProcessGroup(*m_server, 2000);
    }
    return why;
}

QString DesktopSession::startBus()
{
    QProcess *daemon = spawn("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    m_busAddress = daemon ? readLine(daemon, 30000) : QString();
    if (m_busAddress.isEmpty() || !QDBusConnection::connectToBus(m_busAddress, m_connectionName).isConnected())
        return "dbus-daemon did not start";
    if (!spawn(launcherPath, {"--launch-immediately"}))
        return "at-spi-bus-launcher did not start";
    const auto ready = [this] {
        return sessionBus()
                   .call(QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"),
                         QDBus::Block, 1000)
                   .type() == QDBusMessage::ReplyMessage;
    };
    if (!waitUntil(ready, 30000, 200))
        return "the accessibility bus did not appear";
    QDBusMessage on =
        QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set");
    on.setArguments({"org.a11y.Status", "IsEnabled", QVariant::fromValue(QDBusVariant(true))});
    if (sessionBus().call(on, QDBus::Block, 5000).type() != QDBusMessage::ReplyMessage)
        return "cannot turn accessibility on";
    return {};
}

QProcessEnvironment DesktopSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = m_home.path();
    // Desktop settings stay in memory: turning accessibility on must not reach the real user's.
    for (const auto &[name, value] : {std::pair{"HOME", home},
                                      {"XDG_CONFIG_HOME", home + "/.config"},
                                      {"XDG_DATA_HOME", home + "/.local/share"},
                                      {"XDG_CACHE_HOME", home + "/.cache"},
                                      {"XDG_RUNTIME_DIR", home + "/runtime"},
                                      {"GSETTINGS_BACKEND", "memory"},
                                      {"DISPLAY", QString::fromLatin1(m_display)},
                                      {"NO_AT_BRIDGE", "0"}})
        env.insert(QLatin1String(name), value);
    env.remove("AT_SPI_BUS_ADDRESS");
    env.remove("WAYLAND_DISPLAY");
    if (!m_busAddress.isEmpty())
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_busAddress);
    return env;
}

QProcess *DesktopSession::spawn(const QString &program, const QStringList &args, QProcessEnvironment env)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env.isEmpty() ? environment() : env);
    process->setStandardErrorFile(m_home.filePath(QFileInfo(program).fileName() + ".log"));
    // Its own process group, so that a browser's helpers die with it.
    process->setChildProcessModifier([] { ::setsid(); });
    process->start(program, args);
    if (!process->waitForStarted(10000))
        return nullptr;
    return m_processes.emplace_back(std::move(process)).get();
}

std::optional<QByteArray> DesktopSession::run(const QString &program, const QStringList &args, int timeoutMs) const
{
    return runProgram(program, args, environment(), timeoutMs);
}

QString DesktopSession::openTerminal(const QStringList &args, qint64 *pid)
{
    QProcess *terminal = spawn("xterm", QStringList{"-fa", "DejaVu Sans Mono", "-fs", "10"} + args);
    if (!terminal)
        return {};
    if (pid)
        *pid = terminal->processId();
    QString id;
    waitUntil(
        [&] {
            const auto out =
                run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(terminal->processId())});
            id = out ? QString::fromLatin1(out->trimmed()).section(u'\n', 0, 0) : QString();
            return !id.isEmpty();
        },
        60000, 200);
    return id;
}

bool DesktopSession::activate(const QString &windowId) const
{
    return waitUntil(
        [&] {
            run("xdotool", {"windowactivate", windowId}, 5000);
            const auto active = run("xdotool", {"getactivewindow"});
            return active && QString::fromLatin1(active->trimmed()) == windowId;
        },
        30000, 1000);
}

}  // namespace fennimar::test
