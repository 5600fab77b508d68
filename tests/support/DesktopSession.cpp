#include "tests/support/DesktopSession.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace fennimar::test {

bool waitUntil(const std::function<bool()> &pred, int timeoutMs, int stepMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        QElapsedTimer pause;
        pause.start();
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        } while (pause.elapsed() < stepMs);
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
    for (const QString &program : programs) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            missing << program;
    }
    return missing;
}

namespace {

const QString launcherPath = QStringLiteral("/usr/libexec/at-spi-bus-launcher");

QString readLine(QProcess *process, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!process->canReadLine() && timer.elapsed() < timeoutMs && process->state() != QProcess::NotRunning)
        process->waitForReadyRead(100);
    return QString::fromUtf8(process->readLine()).trimmed();
}

void stop(QProcess &process)
{
    const qint64 pid = process.processId();
    if (pid > 0) {
        ::kill(static_cast<pid_t>(-pid), SIGCONT);  // a test may have stopped it
        ::kill(static_cast<pid_t>(-pid), SIGTERM);
    }
    if (!process.waitForFinished(2000) && pid > 0)
        ::kill(static_cast<pid_t>(-pid), SIGKILL);
    process.waitForFinished(2000);
}

}  // namespace

DesktopSession::DesktopSession()
{
    static std::atomic<int> counter{0};
    m_connectionName = QStringLiteral("desktop-session-%1").arg(counter.fetch_add(1));
}

DesktopSession::~DesktopSession()
{
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
        stop(**it);
    if (m_server)
        stop(*m_server);
    if (!m_busAddress.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
}

QString DesktopSession::start(Bus bus)
{
    QStringList tools = {QStringLiteral("Xvfb"), QStringLiteral("openbox"), QStringLiteral("xdotool"),
                         QStringLiteral("xprop")};
    if (bus != Bus::None)
        tools << QStringLiteral("dbus-daemon");
    if (const QStringList missing = missingTools(tools); !missing.isEmpty())
        return QStringLiteral("missing ") + missing.join(QStringLiteral(", ")) +
               QStringLiteral(" (scripts/install-deps.sh)");
    if ((bus == Bus::Accessibility || bus == Bus::AccessibilityOn) && !QFile::exists(launcherPath))
        return QStringLiteral("missing ") + launcherPath + QStringLiteral(" (at-spi2-core)");
    if (!m_home.isValid())
        return QStringLiteral("no temporary directory");
    for (const char *dir : {"/.config", "/.local/share", "/.cache", "/runtime"})
        QDir().mkpath(m_home.path() + QLatin1String(dir));
    QFile::setPermissions(m_home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (const QString why = startX(); !why.isEmpty())
        return why;
    return bus == Bus::None ? QString() : startBus(bus);
}

QString DesktopSession::startX()
{
    // A window manager that exits at once (seen when another test's X server had just left the same
    // display number) gets a fresh server.
    QString why;
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_display.clear();
        if (!restartServer()) {
            why = QStringLiteral("Xvfb did not start");
            continue;
        }
        QProcess *wm = spawn(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        // openbox is ready once it has claimed the window-manager selection of screen 0.
        const bool managed =
            wm && waitUntil(
                      [&] {
                          const auto out = run(QStringLiteral("xprop"),
                                               {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
                          return (out && out->contains("window id")) || wm->state() != QProcess::Running;
                      },
                      30000, 100);
        if (managed && wm->state() == QProcess::Running)
            return {};
        why = QStringLiteral("openbox did not take over display ") + QString::fromLatin1(m_display) +
              QStringLiteral(": ") + errorLog(QStringLiteral("openbox"));
        stop(*m_processes.back());
        m_processes.pop_back();
        stop(*m_server);
    }
    return why;
}

bool DesktopSession::restartServer()
{
    QStringList args = {QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                        QStringLiteral("0"), QStringLiteral("1280x900x24")};
    // -displayfd picks a free display number, so tests running side by side never collide.
    args.prepend(m_display.isEmpty() ? QStringLiteral("-displayfd") : QString::fromLatin1(m_display));
    if (m_display.isEmpty())
        args.insert(1, QStringLiteral("1"));
    m_server = std::make_unique<QProcess>();
    m_server->setChildProcessModifier([] { ::setsid(); });
    m_server->start(QStringLiteral("Xvfb"), args);
    if (!m_server->waitForStarted(10000))
        return false;
    if (m_display.isEmpty()) {
        const QString number = readLine(m_server.get(), 30000);
        if (number.isEmpty())
            return false;
        m_display = ':' + number.toLatin1();
    }
    const QString socket = QStringLiteral("/tmp/.X11-unix/X") + QString::fromLatin1(m_display.mid(1));
    return waitUntil([&] { return QFile::exists(socket); }, 30000);
}

void DesktopSession::killServer()
{
    m_server->terminate();
    m_server->waitForFinished(3000);
}

QString DesktopSession::startBus(Bus bus)
{
    QStringList args = {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")};
    if (bus == Bus::Bare) {
        // A session bus that knows no services to start, as on a desktop without at-spi2-core.
        QFile config(m_home.filePath(QStringLiteral("bare-bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write a bus configuration");
        config.write(
            "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        args[0] = QStringLiteral("--config-file=") + config.fileName();
    }
    QProcess *daemon = spawn(QStringLiteral("dbus-daemon"), args);
    m_busAddress = daemon ? readLine(daemon, 30000) : QString();
    if (m_busAddress.isEmpty())
        return QStringLiteral("dbus-daemon did not start");
    if (!QDBusConnection::connectToBus(m_busAddress, m_connectionName).isConnected())
        return QStringLiteral("cannot connect to the private session bus");
    if (bus == Bus::Bare)
        return {};
    if (!spawn(launcherPath, {QStringLiteral("--launch-immediately")}))
        return QStringLiteral("at-spi-bus-launcher did not start");
    const bool busReady = waitUntil(
        [this] {
            const auto reply = sessionBus().call(
                QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                               QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
                QDBus::Block, 1000);
            return reply.type() == QDBusMessage::ReplyMessage;
        },
        30000, 200);
    if (!busReady)
        return QStringLiteral("the accessibility bus did not appear");
    if (bus == Bus::AccessibilityOn && !setAccessibility(true))
        return QStringLiteral("cannot turn accessibility on");
    return {};
}

QDBusConnection DesktopSession::sessionBus() const
{
    return QDBusConnection(m_connectionName);
}

QProcessEnvironment DesktopSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = m_home.path();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    // Desktop settings stay in memory: turning accessibility on must not reach the real user's.
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    env.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("0"));
    if (!m_busAddress.isEmpty())
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    return env;
}

QProcess *DesktopSession::spawn(const QString &program, const QStringList &args, QProcessEnvironment env)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(args);
    process->setProcessEnvironment(env.isEmpty() ? environment() : env);
    process->setStandardErrorFile(m_home.filePath(QFileInfo(program).fileName() + QStringLiteral(".log")));
    // Its own process group, so that a browser's helpers die with it.
    process->setChildProcessModifier([] { ::setsid(); });
    process->start();
    if (!process->waitForStarted(10000))
        return nullptr;
    m_processes.push_back(std::move(process));
    return m_processes.back().get();
}

QString DesktopSession::errorLog(const QString &program) const
{
    QFile file(m_home.filePath(program + QStringLiteral(".log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(2000)) : QString();
}

std::optional<QByteArray> DesktopSession::run(const QString &program, const QStringList &args, int timeoutMs) const
{
    return runProgram(program, args, environment(), timeoutMs);
}

QString DesktopSession::activeWindowTitle() const
{
    const auto out =
        run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")});
    return out ? QString::fromUtf8(*out).trimmed() : QString();
}

QString DesktopSession::openTerminal(const QStringList &args, qint64 *pid)
{
    const QStringList font = {QStringLiteral("-fa"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("-fs"),
                              QStringLiteral("10")};
    QProcess *terminal = spawn(QStringLiteral("xterm"), font + args);
    if (!terminal)
        return {};
    if (pid)
        *pid = terminal->processId();
    return waitForWindow({QStringLiteral("--pid"), QString::number(terminal->processId())});
}

QString DesktopSession::waitForWindow(const QStringList &search, int timeoutMs) const
{
    QString id;
    waitUntil(
        [&] {
            const auto out = run(QStringLiteral("xdotool"),
                                 QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} + search);
            id = out ? QString::fromLatin1(out->trimmed()).section(QLatin1Char('\n'), 0, 0) : QString();
            return !id.isEmpty();
        },
        timeoutMs, 200);
    return id;
}

bool DesktopSession::activate(const QString &windowId) const
{
    return waitUntil(
        [&] {
            run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), windowId}, 5000);
            const auto active = run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")});
            return active && QString::fromLatin1(active->trimmed()) == windowId;
        },
        30000, 1000);
}

bool DesktopSession::setAccessibility(bool on) const
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    message.setArguments(
        {QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(on))});
    return sessionBus().call(message, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

}  // namespace fennimar::test
