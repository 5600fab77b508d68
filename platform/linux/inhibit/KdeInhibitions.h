#pragma once

#include "platform/linux/inhibit/Inhibitor.h"

#include <QDBusConnection>
#include <QObject>

#include <vector>

namespace fennimar {

// The inhibitions KDE Plasma's power daemon enforces (PowerDevil's PolicyAgent), read again at every
// InhibitionsChanged or PropertiesChanged and whenever the daemon comes or goes, so reading them
// costs nothing. From Plasma 6.5 the ActiveInhibitions property says per entry whether it holds
// "idle" (the screen) or only "sleep"; before, ListInhibitions gives who and why only (as a(ss) up to
// 6.4, aas after, whatever the introspection says), and HasInhibition(4) whether any of them holds
// the screen, so then every listed entry is taken as a screen inhibitor when one is. No version gives
// a pid. Every call asynchronous, bounded, never starting the service. Main thread only.
class KdeInhibitions : public QObject {
    Q_OBJECT
public:
    explicit KdeInhibitions(QDBusConnection session, QObject *parent = nullptr);

    // The list as last read; empty without PowerDevil.
    const std::vector<Inhibitor> &inhibitors() const { return m_inhibitors; }

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void refresh();

private:
    void readListed(quint64 generation);
    void store(quint64 generation, std::vector<Inhibitor> inhibitors);

    QDBusConnection m_bus;
    std::vector<Inhibitor> m_inhibitors;
    quint64 m_generation = 0;  // a newer read makes the answers of an older one stale
};

}  // namespace fennimar
