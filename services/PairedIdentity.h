#pragma once

#include "core/Result.h"

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

    // "pairedAt" is stored as seconds since 2001-01-01T00:00:00Z (with fraction), not Unix time.
    static constexpr qint64 referenceDateUnixSeconds = 978307200;

    // The secret store's bytes: one compact UTF-8 JSON object with the members "deviceId",
    // "childId", "childName", "sessionToken" (strings) and "pairedAt" (number). Fails, touching
    // nothing, when pairedAt is not a valid date. Cheap.
    Result<QByteArray> toJson() const;

    // Reads what toJson wrote. Requires all five members with those types (extra members are
    // ignored); anything else fails with a reason naming the first fault. Never guesses a default.
    static Result<PairedIdentity> fromJson(const QByteArray &json);
};

}  // namespace fennimar
