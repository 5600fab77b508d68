#include "platform/macos/LoginServiceStatus.h"

namespace fennimar::macos {

LoginService::Registration loginStatusFromServiceManagement(long status)
{
    switch (status) {
        case 0:
            return LoginService::Registration::NotRegistered;
        case 1:
            return LoginService::Registration::Enabled;
        case 2:
            return LoginService::Registration::RequiresApproval;
        default:
            return LoginService::Registration::NotFound;
    }
}

bool installedBundle(const QString &executableDir)
{
    return executableDir.startsWith(QLatin1String("/Applications/")) &&
           executableDir.endsWith(QLatin1String(".app/Contents/MacOS"));
}

}  // namespace fennimar::macos
