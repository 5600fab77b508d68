#include "tests/linux/LinuxTestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QStandardPaths>
#include <QUuid>

#include <optional>

namespace fennimar::test {

bool waitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

std::optional<QByteArray> runTool(const QString &program, const QStringList &args, const QByteArray &display,
                                  int timeoutMs)
{
    QProcess process;
    if (!display.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
        process.setProcessEnvironment(env);
    }
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

PrivateBus::PrivateBus()
{
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                    QStringLiteral("--address=unix:tmpdir=/tmp")});
    if (!m_daemon.waitForStarted(3000))
        return;
    waitUntil([this] { return m_daemon.canReadLine() || m_daemon.state() == QProcess::NotRunning; }, 5000);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    for (const QString &name : m_names)
        QDBusConnection::disconnectFromBus(name);
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(3000))
        m_daemon.kill();
    m_daemon.waitForFinished(1000);
}

QDBusConnection PrivateBus::connect()
{
    const QString name = QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_names << name;
    return QDBusConnection::connectToBus(m_address, name);
}

BusThread::BusThread(const QString &address, const QString &service, const QString &path,
                     std::function<QObject *()> make)
    : m_connectionName(QStringLiteral("fake-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    m_context.moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        &m_context,
        [&] {
            m_object = make();
            QDBusConnection bus = QDBusConnection::connectToBus(address, m_connectionName);
            m_ok = bus.isConnected() &&
                   bus.registerObject(path, m_object,
                                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                          QDBusConnection::ExportAllProperties | QDBusConnection::ExportChildObjects) &&
                   bus.registerService(service);
        },
        Qt::BlockingQueuedConnection);
}

BusThread::~BusThread()
{
    QMetaObject::invokeMethod(
        &m_context,
        [this] {
            QDBusConnection::disconnectFromBus(m_connectionName);
            delete m_object;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait(5000);
}

XSession::XSession()
{
    const QStringList missing = missingTools({QStringLiteral("Xvfb"), QStringLiteral("openbox")});
    if (!missing.isEmpty()) {
        m_skip = QStringLiteral("needs ") + missing.join(QStringLiteral(", ")) +
                 QStringLiteral(" (scripts/install-deps.sh)");
        return;
    }
    // A window manager that exits at once (seen when another test's X server had just left the
    // same display number) gets a fresh server; the reason of the last try is kept for the skip.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_skip = startSession();
        if (m_skip.isEmpty())
            return;
        stopAll();
        m_display.clear();
    }
}

QString XSession::startSession()
{
    // -displayfd picks a free display number, so tests running side by side never collide.
    if (!startServer({QStringLiteral("-displayfd"), QStringLiteral("1")}))
        return QStringLiteral("Xvfb did not start");
    QProcess *wm = start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    // openbox is ready once it has claimed the window-manager selection of screen 0.
    QByteArray lastAnswer = "no answer";
    const bool managed = waitUntil(
        [&] {
            const auto out =
                runTool(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")},
                        m_display, 5000);
            lastAnswer = out ? out->trimmed() : QByteArray("xprop failed");
            return (out && out->contains("window id")) || wm->state() != QProcess::Running;
        },
        30000);
    if (managed && wm->state() == QProcess::Running)
        return {};
    return QStringLiteral("openbox did not take over display %1 · openbox %2 (exit %3) · xprop: %4 · %5")
        .arg(QString::fromLatin1(m_display),
             wm->state() == QProcess::Running ? QStringLiteral("running") : QStringLiteral("stopped"))
        .arg(wm->exitCode())
        .arg(QString::fromUtf8(lastAnswer), QString::fromUtf8(wm->readAll().left(300)));
}

bool XSession::startServer(const QStringList &args)
{
    m_server = std::make_unique<QProcess>();
    m_server->start(QStringLiteral("Xvfb"),
                    args + QStringList{QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                                       QStringLiteral("0"), QStringLiteral("800x600x24")});
    if (!m_server->waitForStarted(3000))
        return false;
    if (m_display.isEmpty()) {
        waitUntil([&] { return m_server->canReadLine() || m_server->state() == QProcess::NotRunning; }, 10000);
        const QByteArray number = m_server->readLine().trimmed();
        if (number.isEmpty())
            return false;
        m_display = ':' + number;
    }
    return waitUntil(
        [&] { return QFile::exists(QStringLiteral("/tmp/.X11-unix/X") + QString::fromLatin1(m_display.mid(1))); },
        10000);
}

QProcess *XSession::start(const QString &program, const QStringList &args)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(program, args);
    process->waitForStarted(3000);
    m_clients.push_back(std::move(process));
    return m_clients.back().get();
}

void XSession::killServer()
{
    m_server->terminate();
    m_server->waitForFinished(3000);
}

bool XSession::restartServer()
{
    return startServer({QString::fromLatin1(m_display)});
}

XSession::~XSession()
{
    stopAll();
}

void XSession::stopAll()
{
    for (auto it = m_clients.rbegin(); it != m_clients.rend(); ++it) {
        (*it)->kill();
        (*it)->waitForFinished(2000);
    }
    m_clients.clear();
    if (m_server) {
        m_server->terminate();
        if (!m_server->waitForFinished(3000))
            m_server->kill();
        m_server->waitForFinished(1000);
        m_server.reset();
    }
}

}  // namespace fennimar::test
