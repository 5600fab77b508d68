#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QHash>
#include <QObject>
#include <QSet>

#include <memory>

namespace fennimar {

// Who called Inhibit on the session bus: the desktops' inhibitor lists give the name an app chose,
// never its process, so a second connection of the agent becomes a monitor (same user, which the
// session bus allows) of the Inhibit calls to org.freedesktop.ScreenSaver,
// org.freedesktop.PowerManagement and org.gnome.SessionManager, and asks the bus for each caller's
// pid. It sees only calls made after the agent started, and never owns or takes a desktop's name.
// A caller leaving the bus is forgotten. Every call asynchronous and bounded. Main thread only.
class BusInhibitCalls : public QObject {
    Q_OBJECT
public:
    // session: the bus to ask for pids; monitor: a connection of its own to the same bus (it can
    // only listen once it monitors).
    BusInhibitCalls(QDBusConnection session, QDBusConnection monitor, QObject *parent = nullptr);
    ~BusInhibitCalls() override;

    // The pids of the callers still on the bus that asked for an inhibitor with this app name and
    // reason; empty when no such call was seen. Free.
    QSet<qint64> callers(const QString &app, const QString &reason) const;

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void onOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);

private:
    friend class MonitoredCall;
    void seen(const QString &sender, const QString &app, const QString &reason);

    QDBusConnection m_bus;
    QDBusConnection m_monitor;
    std::unique_ptr<QDBusVirtualObject> m_catcher;   // takes what the monitor receives
    QHash<QString, QHash<QString, qint64>> m_calls;  // "app\nreason" -> sender -> pid
};

}  // namespace fennimar
