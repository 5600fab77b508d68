#pragma once

#include "platform/linux/inhibit/Inhibitor.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace fennimar {

// The inhibitors taken on the session bus, from the calls themselves: the desktops' lists give the
// name an app chose, never its process, and Xfce, LXQt, MATE and Cinnamon list nothing at all. So
// a second connection of the agent becomes a monitor (same user, which the session bus allows) of
// the Inhibit and UnInhibit calls to org.freedesktop.ScreenSaver, org.freedesktop.PowerManagement
// and org.gnome.SessionManager, and asks the bus for each caller's pid and whether the service has
// an owner. A caller leaving the bus, or the service leaving, ends its inhibitors. It sees only
// calls made after the agent started, and never owns or takes a desktop's name. Every call
// asynchronous and bounded. Main thread only.
//
// Qt hands a monitor no method replies, so the cookies are not seen and an UnInhibit is tied to
// its call by caller and service: where a caller holds several inhibitors of one service and
// releases some, which remain is unknown, and none of them says video until it releases the rest.
class BusInhibitCalls : public QObject {
    Q_OBJECT
public:
    // session: the bus to ask for pids; monitor: a connection of its own to the same bus (it can
    // only listen once it monitors).
    BusInhibitCalls(QDBusConnection session, QDBusConnection monitor, QObject *parent = nullptr);
    ~BusInhibitCalls() override;

    // The inhibitors held by callers still on the bus, each with its caller's pid; a Flatpak app's
    // (its calls come through its bus proxy, whose pid is never in front) with pid 0 and its
    // Flatpak id as app, and a portal's with pid 0, so that they are matched by name. Free.
    std::vector<Inhibitor> held() const;
    // Whether a caller still on the bus asked for an inhibitor with this app name and reason and
    // may still hold it: such a listed inhibitor is this one, not one to match by name. Free.
    bool seen(const QString &app, const QString &reason) const;

private Q_SLOTS:
    void onOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);

private:
    friend class MonitoredCall;
    // The inhibitors one caller took from one service.
    struct Holder {
        QString caller;       // its unique bus name
        QString service;      // the well-known name called
        qint64 pid = 0;       // 0 until the bus answered
        QString flatpak;      // its Flatpak id, when it is a Flatpak app's proxy
        bool byName = false;  // a proxy or portal calling for an app: matched by the app's name
        std::vector<Inhibitor> taken;
        int released = 0;  // UnInhibit calls seen since
    };
    void inhibited(const QString &caller, const QString &service, Inhibitor inhibitor);
    void uninhibited(const QString &caller, const QString &service);
    void forget(const std::function<bool(Holder &)> &gone);

    QDBusConnection m_bus;
    QDBusConnection m_monitor;
    std::unique_ptr<QDBusVirtualObject> m_catcher;  // takes what the monitor receives
    std::vector<Holder> m_holders;
};

}  // namespace fennimar
