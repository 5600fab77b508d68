#pragma once

#include "backend/SystemInfo.h"

#include <QJsonObject>
#include <QString>

namespace fennimar {

// The build facts sent with every usage report and heartbeat as "app_build".
namespace BuildIdentity {

// This build's version ("0.1.0-dev" when the build names none) and build number ("0" when none).
QString appVersion();
QString buildNumber();
// What --version prints: the distribution package's version when the build was made for one
// (e.g. "0.1.0-1"), otherwise appVersion() "+" buildNumber().
QString packageVersion();

// Exactly four string members: "app_version", "build_number", "platform", "os_version".
QJsonObject payload(const SystemInfo &system);
// The same from given texts, with the fallbacks applied to empty ones.
QJsonObject payloadFor(const QString &appVersion, const QString &buildNumber, const QString &osVersion);

}  // namespace BuildIdentity

}  // namespace fennimar
