#pragma once

#include "tests/support/DesktopSession.h"

#include <QDBusConnection>
#include <QProcess>
#include <QThread>

#include <functional>

namespace fennimar::test {

// Writes bytes to path, making its folders; executable: mode 0700. False when it could not.
bool writeFile(const QString &path, const QByteArray &bytes, bool executable = false);

// A private dbus-daemon for one test, gone when the object goes.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    bool ok() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }
    // A new connection to this bus under a unique name.
    QDBusConnection connect();

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

// A QObject on its own thread and bus connection, so the code under test may call it blocking.
class BusThread {
public:
    // make() runs on the thread and returns the object to register at path under service.
    BusThread(const QString &address, const QString &service, const QString &path, std::function<QObject *()> make);
    ~BusThread();
    bool ok() const { return m_ok; }

private:
    QThread m_thread;
    QObject m_context;  // lives on m_thread: the target of the calls made there
    QString m_name;
    QObject *m_object = nullptr;
    bool m_ok = false;
};

}  // namespace fennimar::test
