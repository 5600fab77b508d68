#pragma once

#include "platform/AddressOutcome.h"

namespace fennimar {

// Reading other applications' interfaces (macOS Accessibility, Linux AT-SPI). Main thread only.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether this process may read other applications' interface trees now. Cheap enough to call
    // every few seconds (a cached value or one short, bounded query); false on any failure.
    virtual bool isTrusted() = 0;

    // Asks the system to grant the trust: shows the platform's prompt or turns the desktop's
    // accessibility support on. Returns at once, without waiting for the user; never fails (a
    // failure is logged by the implementation).
    virtual void requestTrust() = 0;

    // Whether requestTrust() shows an alert of the system's own while the trust is missing (macOS,
    // whose alert offers to open the settings itself), so that nothing opens the settings on top of
    // it. Cheap, never fails. Default: no.
    virtual bool requestShowsPrompt() const { return false; }

    // One synchronous read of the current address in the focused window of the application with
    // process id pid. Bounded: a hung application ends the read with Unreadable within a few
    // hundred milliseconds. NoPermission when not trusted.
    virtual AddressOutcome readAddress(qint64 pid) = 0;

    // Opens the desktop's settings for accessibility where one is known; false when none is.
    virtual bool openSettings() = 0;
};

}  // namespace fennimar
