#pragma once

#include "platform/DeviceFacts.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace fennimar {

// The machine and operating-system facts the backend is told about, read through DeviceFacts and
// given the backend's fallbacks. Every read except hardwareModel() asks the facts afresh, so the
// battery state, computer name and user are current at every request. Main thread only.
class SystemInfo {
public:
    explicit SystemInfo(DeviceFacts &device) : m_device(device) {}

    // The hardware model, "PC" when the system names none; read once and kept.
    QString hardwareModel() const;
    // True when the machine has an internal battery.
    bool isPortable() const;
    // The OS version as major.minor.patch, always three numbers (see paddedVersion).
    QString osVersion() const;
    // Exactly seven string members: "brand", "model", "os", "os_version", "device_type" ("laptop" or
    // "desktop"), "device_name", "os_user". Costs one read of each fact.
    QJsonObject platformInfo() const;
    // The pairing request's top-level device type: "<os>_laptop" or "<os>_desktop".
    QString pairingDeviceType() const;
    // Milliseconds since the system started (time asleep excluded where the platform does so).
    qint64 uptimeMs() const;

    // "12" -> "12.0.0", "22.04" -> "22.4.0", "14.2.1" -> "14.2.1", "6.1.0-13-amd64" -> "6.1.0";
    // leading numbers only, at most three; "0.0.0" when the text starts with no number.
    static QString paddedVersion(const QString &stated);

private:
    DeviceFacts &m_device;
    mutable std::optional<QString> m_model;
};

}  // namespace fennimar
