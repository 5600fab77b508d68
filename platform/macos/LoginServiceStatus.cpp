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

bool installedBundle(const QString &executableDir)
{
    return executableDir.startsWith(QLatin1String("/Applications/")) &&
           executableDir.endsWith(QLatin1String(".app/Contents/MacOS"));
}

}  // namespace fennimar::macos
