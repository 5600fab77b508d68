#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace fennimar::test {

// Runs the event loop until pred() holds or timeoutMs passes; returns pred()'s last answer.
bool waitUntil(const std::function<bool()> &pred, int timeoutMs = 5000);

// Runs a tool to completion within timeoutMs; returns its standard output, or nothing on failure.
std::optional<QByteArray> runTool(const QString &program, const QStringList &args, const QByteArray &display = {},
                                  int timeoutMs = 5000);

// The names of the listed programs that are not on PATH.
QStringList missingTools(const QStringList &programs);

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

// Runs a QObject on a thread of its own with its own connection to a bus, so that the code under
// test may make blocking calls to it from the main thread.
class BusThread {
public:
    // make() runs on the thread and returns the object to register at path under service.
    BusThread(const QString &address, const QString &service, const QString &path, std::function<QObject *()> make);
    ~BusThread();
    bool ok() const { return m_ok; }

private:
    QThread m_thread;
    QObject m_context;  // lives on m_thread: the target of the calls made there
    QString m_connectionName;
    QObject *m_object = nullptr;
    bool m_ok = false;
};

// An Xvfb server on a free display with openbox managing it. Check ok() (and skip with
// skipReason()) before use.
class XSession {
public:
    XSession();
    ~XSession();
    bool ok() const { return !m_display.isEmpty() && m_skip.isEmpty(); }
    QString skipReason() const { return m_skip; }
    QByteArray display() const { return m_display; }
    // Starts a client on this display; it is killed when the session ends.
    QProcess *start(const QString &program, const QStringList &args);
    // Stops the X server under its clients and starts a new one on the same display number.
    void killServer();
    bool restartServer();

private:
    QString startSession();  // empty when the display is ready, else why not
    void stopAll();
    bool startServer(const QStringList &args);
    QString m_skip;
    QByteArray m_display;
    std::unique_ptr<QProcess> m_server;
    std::vector<std::unique_ptr<QProcess>> m_clients;
};

}  // namespace fennimar::test
