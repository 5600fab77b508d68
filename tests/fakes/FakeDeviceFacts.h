#pragma once

#include "platform/DeviceFacts.h"

namespace fennimar::test {

// Device facts that say whatever the test sets; counts model reads to show what is cached.
class FakeDeviceFacts final : public DeviceFacts {
public:
    QString vendorText = QStringLiteral("Framework");
    QString modelText = QStringLiteral("Laptop 13");
    bool battery = true;
    QString computerNameText = QStringLiteral("kids-pc");
    int modelReads = 0;

    QString vendor() override { return vendorText; }
    QString model() override
    {
        ++modelReads;
        return modelText;
    }
    bool hasInternalBattery() override { return battery; }
    QString osVersion() override { return QStringLiteral("12"); }
    QString computerName() override { return computerNameText; }
    QString userName() override { return QStringLiteral("robin"); }
};

}  // namespace fennimar::test
