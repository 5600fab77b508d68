#include "tests/atspi/BrowserDesktop.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace fennimar::test {

using namespace std::chrono_literals;

PageServer::PageServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString PageServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void PageServer::serve(QTcpSocket *socket)
{
    const QByteArray request = socket->readAll();
    const QList<QByteArray> words = request.split(' ');
    const QString path = words.size() > 1 ? QString::fromLatin1(words[1]) : QString();
    const QString title = path.section(QLatin1Char('/'), -1);
    QByteArray body = "<!doctype html><html><head><title>" + title.toUtf8() + "</title></head><body><h1>" +
                      title.toUtf8() + "</h1><p>A page for reading its address.</p><input type=text>";
    if (path.startsWith(QLatin1String("/large/"))) {
        body.reserve(400000);
        for (int i = 0; i < 3000; ++i)
            body += "<p>Paragraph " + QByteArray::number(i) + " <a href=#" + QByteArray::number(i) + ">link</a></p>";
    }
    body += "</body></html>";
    const int status = path.endsWith(QLatin1String("favicon.ico")) ? 404 : 200;
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " OK\r\nContent-Type: text/html\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

namespace {

const QStringList requiredTools = {QStringLiteral("Xvfb"), QStringLiteral("dbus-daemon"), QStringLiteral("openbox"),
                                   QStringLiteral("xdotool")};
const QString launcherPath = QStringLiteral("/usr/libexec/at-spi-bus-launcher");

QString readLine(QProcess *process, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!process->canReadLine() && timer.elapsed() < timeout.count() && process->state() != QProcess::NotRunning)
        process->waitForReadyRead(100);
    return QString::fromUtf8(process->readLine()).trimmed();
}

}  // namespace

BrowserDesktop::BrowserDesktop()
{
    static std::atomic<int> counter{0};
    m_connectionName = QStringLiteral("browser-desktop-%1").arg(counter.fetch_add(1));
}

BrowserDesktop::~BrowserDesktop()
{
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        QProcess *process = it->get();
        const qint64 pid = process->processId();
        if (pid > 0) {
            ::kill(static_cast<pid_t>(-pid), SIGCONT);
            ::kill(static_cast<pid_t>(-pid), SIGTERM);
        }
        if (!process->waitForFinished(2000) && pid > 0)
            ::kill(static_cast<pid_t>(-pid), SIGKILL);
        process->waitForFinished(2000);
    }
    if (!m_busAddress.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
}

QString BrowserDesktop::missingTool() const
{
    for (const QString &tool : requiredTools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    }
    if (!QFile::exists(launcherPath))
        return launcherPath + QStringLiteral(" (at-spi2-core)");
    return {};
}

QProcessEnvironment BrowserDesktop::environment() const
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
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("0"));
    if (!m_busAddress.isEmpty())
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    return env;
}

QProcess *BrowserDesktop::spawn(const QString &program, const QStringList &args, QProcessEnvironment env)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(args);
    process->setProcessEnvironment(env.isEmpty() ? environment() : env);
    process->setStandardErrorFile(m_home.filePath(QFileInfo(program).fileName() + QStringLiteral(".log")));
    // Its own process group, so that the browser's helpers die with it.
    process->setChildProcessModifier([] { ::setsid(); });
    process->start();
    if (!process->waitForStarted(5000))
        return nullptr;
    m_processes.push_back(std::move(process));
    return m_processes.back().get();
}

QString BrowserDesktop::start(Accessibility accessibility)
{
    if (const QString tool = missingTool(); !tool.isEmpty())
        return QStringLiteral("missing ") + tool;
    if (!m_home.isValid())
        return QStringLiteral("no temporary directory");
    for (const char *dir : {"/.config", "/.local/share", "/.cache", "/runtime"})
        QDir().mkpath(m_home.path() + QLatin1String(dir));
    QFile::setPermissions(m_home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcess *x =
        spawn(QStringLiteral("Xvfb"),
              {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
               QStringLiteral("1280x900x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    const QString number = x ? readLine(x, 10s) : QString();
    if (number.isEmpty())
        return QStringLiteral("Xvfb did not start");
    m_display = QLatin1Char(':') + number;

    QStringList busArgs = {QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--print-address=1")};
    if (accessibility == Accessibility::Absent) {
        // A session bus that knows no services to start, as on a desktop without at-spi2-core.
        QFile config(m_home.filePath(QStringLiteral("bare-bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write a bus configuration");
        config.write(
            "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        busArgs[0] = QStringLiteral("--config-file=") + config.fileName();
    }
    QProcess *bus = spawn(QStringLiteral("dbus-daemon"), busArgs);
    m_busAddress = bus ? readLine(bus, 10s) : QString();
    if (m_busAddress.isEmpty())
        return QStringLiteral("dbus-daemon did not start");
    if (!QDBusConnection::connectToBus(m_busAddress, m_connectionName).isConnected())
        return QStringLiteral("cannot connect to the private session bus");

    if (!spawn(QStringLiteral("openbox"), {}))
        return QStringLiteral("openbox did not start");
    if (accessibility == Accessibility::Absent)
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
        10s);
    if (!busReady)
        return QStringLiteral("the accessibility bus did not appear");
    if (accessibility == Accessibility::On && !setAccessibility(true))
        return QStringLiteral("cannot turn accessibility on");
    return {};
}

QDBusConnection BrowserDesktop::sessionBus() const
{
    return QDBusConnection(m_connectionName);
}

bool BrowserDesktop::setAccessibility(bool on)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    message.setArguments(
        {QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(on))});
    return sessionBus().call(message, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
}

qint64 BrowserDesktop::launch(Browser browser, const QStringList &urls)
{
    QProcess *process = nullptr;
    const QString profile = m_home.filePath(QStringLiteral("profile-%1").arg(m_processes.size()));
    QDir().mkpath(profile);
    if (browser == Browser::Chromium) {
        QStringList args = {QStringLiteral("--no-sandbox"),
                            QStringLiteral("--disable-gpu"),
                            QStringLiteral("--no-first-run"),
                            QStringLiteral("--no-default-browser-check"),
                            QStringLiteral("--disable-background-networking"),
                            QStringLiteral("--disable-component-update"),
                            QStringLiteral("--disable-sync"),
                            QStringLiteral("--password-store=basic"),
                            QStringLiteral("--window-size=1200,800"),
                            QStringLiteral("--user-data-dir=") + profile};
        process = spawn(QStringLiteral("chromium"), args + urls);
    } else {
        QFile prefs(profile + QStringLiteral("/user.js"));
        if (prefs.open(QIODevice::WriteOnly)) {
            for (const char *pref :
                 {"browser.shell.checkDefaultBrowser\", false",
                  "browser.startup.homepage_override.mstone\", \"ignore\"",
                  "datareporting.policy.dataSubmissionEnabled\", false",
                  "toolkit.telemetry.reportingpolicy.firstRun\", false", "browser.aboutwelcome.enabled\", false",
                  "app.update.disabledForTesting\", true", "browser.tabs.warnOnClose\", false",
                  "browser.sessionstore.resume_from_crash\", false", "trailhead.firstrun.didSeeAboutWelcome\", true",
                  "browser.newtabpage.enabled\", false"})
                prefs.write(QByteArray("user_pref(\"") + pref + ");\n");
        }
        prefs.close();
        QStringList args = {QStringLiteral("--no-remote"), QStringLiteral("--new-instance"),
                            QStringLiteral("--profile"), profile};
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("MOZ_CRASHREPORTER_DISABLE"), QStringLiteral("1"));
        process = spawn(QStringLiteral("firefox-esr"), args + urls, env);
    }
    return process ? process->processId() : 0;
}

qint64 BrowserDesktop::launchTerminal()
{
    QProcess *process = spawn(QStringLiteral("xterm"), {QStringLiteral("-T"), QStringLiteral("terminal in front")});
    return process ? process->processId() : 0;
}

bool BrowserDesktop::xdotool(const QStringList &args)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral("xdotool"), args);
    return process.waitForFinished(5000) && process.exitCode() == 0;
}

QString BrowserDesktop::activeWindowTitle()
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")});
    if (!process.waitForFinished(5000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString BrowserDesktop::errorLog(const QString &program) const
{
    QFile file(m_home.filePath(program + QStringLiteral(".log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(2000)) : QString();
}

bool BrowserDesktop::waitUntil(const std::function<bool()> &fn, std::chrono::milliseconds timeout,
                               std::chrono::milliseconds step)
{
    QElapsedTimer timer;
    timer.start();
    while (true) {
        if (fn())
            return true;
        if (timer.elapsed() >= timeout.count())
            return false;
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < step.count()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
    }
}

}  // namespace fennimar::test
