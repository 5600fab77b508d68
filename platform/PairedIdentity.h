#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace fennimar {

// The record that says this computer is paired, kept in the secret store.
struct PairedIdentity {
    QString deviceId;      // the backend's identifier of this computer
    QString childId;       // the backend's identifier of the child
    QString childName;     // the child's display name
    QString sessionToken;  // authenticates every later backend request; never logged
    QDateTime pairedAt;    // when the pairing was stored

    bool operator==(const PairedIdentity &) const = default;
};

}  // namespace fennimar
