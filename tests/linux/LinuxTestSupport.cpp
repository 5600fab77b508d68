#include "tests/linux/LinuxTestSupport.h"

#include "tests/support/DesktopSession.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QStandardPaths>
#include <QUuid>

#include <optional>

namespace fennimar::test {

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

}  // namespace fennimar::test
