#include "platform/macos/LoginServiceStatus.h"

namespace fennimar::macos {

LoginService::Status loginStatusFromServiceManagement(long status)
{
    switch (status) {
        case 0:
            return LoginService::Status::NotRegistered;
        case 1:
            return LoginService::Status::Enabled;
        case 2:
            return LoginService::Status::RequiresApproval;
        default:
            return LoginService::Status::NotFound;
    }
}

bool installedBundle(const QString &executableDir, const QString &home)
{
    if (!executableDir.endsWith(QLatin1String(".app/Contents/MacOS")))
        return false;
    for (const QString &folder : {QStringLiteral("/Applications/"), home + QStringLiteral("/Applications/")}) {
        if (executableDir.startsWith(folder))
            return true;
    }
    return false;
}

}  // namespace fennimar::macos
