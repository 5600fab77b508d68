#pragma once

#include "platform/ControlClient.h"
#include "platform/ControlServer.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>

namespace fennimar {

// The agent's control channel on the session bus: the name and the interface are the agent's
// identifier ("app.fennimar.Agent"), the object is "/app/fennimar/Agent". Every method takes no
// argument and returns the text to print: Status, Pair, CancelPairing, Unpair. A refused or failed
// action answers with the error "app.fennimar.Agent.Error.Failed" and its reason as the message.
namespace DBusControl {
QString serviceName();
QString objectPath();
QString failedError();
}  // namespace DBusControl

class DBusControlServer : public QObject, public ControlServer, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.fennimar.Agent")
public:
    explicit DBusControlServer(QDBusConnection bus);
    ~DBusControlServer() override;

    Claim listen(Handler handler) override;
    qint64 holderPid() const override;

public Q_SLOTS:
    Q_SCRIPTABLE QString Status();
    Q_SCRIPTABLE QString Pair();
    Q_SCRIPTABLE QString CancelPairing();
    Q_SCRIPTABLE QString Unpair();

private:
    QString answer(ControlCommand command);

    QDBusConnection m_bus;
    Handler m_handler;
    bool m_registered = false;
};

class DBusControlClient : public ControlClient {
public:
    explicit DBusControlClient(QDBusConnection bus);

    Result<QString> send(ControlCommand command, Millis limit) override;

private:
    QDBusConnection m_bus;
};

}  // namespace fennimar
