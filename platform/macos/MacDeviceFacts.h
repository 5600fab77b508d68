#pragma once

#include "platform/DeviceFacts.h"

#include <optional>

namespace fennimar::macos {

// Device facts of a Mac. vendor() is "Apple"; model() is "hw.model" by sysctl, read once; the
// battery comes from IOKit's power sources, the computer name from SystemConfiguration's local
// store (no network look-up, unlike NSHost, whose reverse DNS can hang for seconds), the OS version
// from Qt (NSProcessInfo's major.minor.patch), the user from the password database. Each read is a
// few microseconds to a millisecond; any thread.
class MacDeviceFacts final : public DeviceFacts {
public:
    QString vendor() override;
    QString model() override;
    bool hasInternalBattery() override;
    QString osVersion() override;
    QString computerName() override;
    QString userName() override;

private:
    std::optional<QString> m_model;
};

}  // namespace fennimar::macos
