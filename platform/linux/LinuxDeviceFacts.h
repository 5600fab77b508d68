#pragma once

#include "platform/DeviceFacts.h"

#include <QDBusConnection>
#include <QString>

namespace fennimar {

// Device facts from the kernel's DMI and power-supply tables, os-release, hostnamed and the
// password database. Every read goes to the source again (the heartbeat reads them every 15 s and
// a battery or a name may change); each costs a few small file reads, computerName() at most one
// bus call of 200 ms that never starts hostnamed.
class LinuxDeviceFacts : public DeviceFacts {
public:
    // Where the files are read from; tests point these into a temporary tree.
    struct Roots {
        QString sys = QStringLiteral("/sys");
        QString etc = QStringLiteral("/etc");
        QString proc = QStringLiteral("/proc");
    };
    // systemBus: where org.freedesktop.hostname1 is asked; a disconnected one skips it.
    explicit LinuxDeviceFacts(QDBusConnection systemBus);
    LinuxDeviceFacts(QDBusConnection systemBus, Roots roots);

    QString vendor() override;
    QString model() override;
    bool hasInternalBattery() override;
    QString osVersion() override;
    QString computerName() override;
    QString userName() override;

    // Firmware fill-ins such as "To Be Filled By O.E.M." or "System Product Name" that name nothing.
    static bool isPlaceholder(const QString &value);

private:
    QString dmi(const char *name) const;

    QDBusConnection m_system;
    Roots m_roots;
};

}  // namespace fennimar
