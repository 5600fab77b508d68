#pragma once

#include "platform/LoginService.h"

namespace fennimar::macos {

// SMAppService's status as the login item reads it: NotRegistered 0, Enabled 1, RequiresApproval 2
// (also when the user switched the item off in System Settings), NotFound 3. A value a later macOS
// may add is read as NotFound, so that the login item tries to register rather than trusting it.
LoginService::Status loginStatusFromServiceManagement(long status);

}  // namespace fennimar::macos
