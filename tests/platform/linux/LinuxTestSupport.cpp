#include "tests/platform/linux/LinuxTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace fennimar::test {

bool writeFile(const QString &path, const QByteArray &bytes, bool executable)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size() &&
           (!executable || file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

PrivateBus::PrivateBus()
{
    m_daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1", "--address=unix:tmpdir=/tmp"});
    if (m_daemon.waitForStarted(3000) && waitUntil([this] { return m_daemon.canReadLine(); }, 5000))
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    for (const QString &name : m_names)
        QDBusConnection::disconnectFromBus(name);
    m_daemon.kill();
    m_daemon.waitForFinished(3000);
}

QDBusConnection PrivateBus::connect()
{
    m_names << QUuid::createUuid().toString();
    return QDBusConnection::connectToBus(m_address, m_names.last());
}

BusThread::BusThread(const QString &address, const QString &service, const QString &path,
                     std::function<QObject *()> make)
    : m_name(QUuid::createUuid().toString())
{
    m_context.moveToThread(&m_thread);
    m_thread.start();
    const auto all = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                     QDBusConnection::ExportAllProperties | QDBusConnection::ExportChildObjects;
    QMetaObject::invokeMethod(
        &m_context,
        [&] {
            m_object = make();
            QDBusConnection bus = QDBusConnection::connectToBus(address, m_name);
            m_ok = bus.registerObject(path, m_object, all) && bus.registerService(service);
        },
        Qt::BlockingQueuedConnection);
}

BusThread::~BusThread()
{
    QMetaObject::invokeMethod(
        &m_context,
        [this] {
            QDBusConnection::disconnectFromBus(m_name);
            delete m_object;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait(5000);
}

}  // namespace fennimar::test
