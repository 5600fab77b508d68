#pragma once

#include "platform/Accessibility.h"

#include <QHash>

namespace fennimar::test {

// Accessibility with a scripted address per process id; an unscripted pid has no focused window.
class FakeAccessibility : public Accessibility {
public:
    bool trusted = true;
    QHash<qint64, AddressOutcome> addresses;
    int trustRequests = 0;

    bool isTrusted() override { return trusted; }
    void requestTrust() override { ++trustRequests; }
    AddressOutcome readAddress(qint64 pid) override
    {
        if (!trusted)
            return AddressOutcome::noPermission();
        return addresses.value(pid, AddressOutcome::unreadable(QString::fromLatin1(AddressOutcome::noFocusedWindow)));
    }
    bool openSettings() override { return false; }
};

}  // namespace fennimar::test
