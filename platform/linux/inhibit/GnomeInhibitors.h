#pragma once

#include "platform/linux/inhibit/Inhibitor.h"

#include <QDBusConnection>
#include <QObject>

#include <vector>

namespace fennimar {

// The inhibitors GNOME's session manager holds (org.gnome.SessionManager: GetInhibitors, then each
// one's GetAppId, GetReason and GetFlags), read again at every InhibitorAdded / InhibitorRemoved and
// whenever the manager comes or goes, so reading them costs nothing. Every ScreenSaver inhibitor on
// GNOME reaches this list through the settings daemon's proxy as an idle inhibitor (flag 8) under
// the name the app gave; GNOME gives no pid, and an app's Wayland idle inhibitor shows as "mutter".
// Every call asynchronous, bounded, never starting the service. Main thread only.
class GnomeInhibitors : public QObject {
    Q_OBJECT
public:
    explicit GnomeInhibitors(QDBusConnection session, QObject *parent = nullptr);

    // The list as last read; empty without a GNOME session manager.
    const std::vector<Inhibitor> &inhibitors() const { return m_inhibitors; }

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void refresh();

private:
    void store(quint64 generation, std::vector<Inhibitor> inhibitors);

    QDBusConnection m_bus;
    std::vector<Inhibitor> m_inhibitors;
    quint64 m_generation = 0;  // a newer read makes the answers of an older one stale
};

}  // namespace fennimar
