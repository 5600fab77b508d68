#pragma once

#include <QString>

#include <optional>

namespace fennimar {

// Facts about this computer for the device heartbeat and pairing. Each read is cheap (a few small
// files or one bounded bus query) and never fails: unknown facts come back empty/nullopt and the
// callers apply their fallbacks.
class DeviceFacts {
public:
    virtual ~DeviceFacts() = default;
    virtual QString vendor() = 0;  // "Apple", the DMI vendor; empty when unknown
    virtual QString model() = 0;   // hardware model ("MacBookPro18,3", DMI product name); empty when unknown
    virtual bool hasInternalBattery() = 0;
    virtual QString
    osVersion() = 0;  // the OS version as the system states it ("12", "22.04", "14.2.1"); empty when unknown
    virtual QString computerName() = 0;  // the name people gave the computer; empty when unknown
    virtual QString userName() = 0;      // the login name
};

}  // namespace fennimar
