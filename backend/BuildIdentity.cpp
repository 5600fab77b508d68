#include "backend/BuildIdentity.h"

#include "platform/PlatformTraits.h"

#ifndef FENNIMAR_APP_VERSION
#define FENNIMAR_APP_VERSION ""
#endif
#ifndef FENNIMAR_BUILD_NUMBER
#define FENNIMAR_BUILD_NUMBER ""
#endif
#ifndef FENNIMAR_PACKAGE_VERSION
#define FENNIMAR_PACKAGE_VERSION ""
#endif

namespace fennimar::BuildIdentity {

QString appVersion()
{
    const QString version = QStringLiteral(FENNIMAR_APP_VERSION).trimmed();
    return version.isEmpty() ? QStringLiteral("0.1.0-dev") : version;
}

QString buildNumber()
{
    const QString number = QStringLiteral(FENNIMAR_BUILD_NUMBER).trimmed();
    return number.isEmpty() ? QStringLiteral("0") : number;
}

QString packageVersion()
{
    const QString version = QStringLiteral(FENNIMAR_PACKAGE_VERSION).trimmed();
    return version.isEmpty() ? appVersion() + QLatin1Char('+') + buildNumber() : version;
}

QJsonObject payload(const SystemInfo &system)
{
    return payloadFor(appVersion(), buildNumber(), system.osVersion());
}

QJsonObject payloadFor(const QString &appVersion, const QString &buildNumber, const QString &osVersion)
{
    return QJsonObject{
        {QStringLiteral("app_version"), appVersion.isEmpty() ? QStringLiteral("0.1.0-dev") : appVersion},
        {QStringLiteral("build_number"), buildNumber.isEmpty() ? QStringLiteral("0") : buildNumber},
        {QStringLiteral("platform"), platform::osName()},
        {QStringLiteral("os_version"), osVersion},
    };
}

}  // namespace fennimar::BuildIdentity
