#pragma once

#include "platform/LoginService.h"

namespace fennimar::macos {

// SMAppService's status as the login item reads it: NotRegistered 0, Enabled 1, RequiresApproval 2
// (also when the user switched the item off in System Settings), NotFound 3. A value a later macOS
// may add is read as NotFound, so that the login item tries to register rather than trusting it.
LoginService::Registration loginStatusFromServiceManagement(long status);

// Whether the program in executableDir (the bundle's Contents/MacOS) belongs to a bundle that lies
// in /Applications, at any depth: the copies a parent installs (writing there needs an
// administrator). A build tree, a mounted disk image, Downloads and ~/Applications are not: the
// child owns ~/Applications and could empty it, leaving a registration that starts nothing. The
// path absolute and clean. Pure.
bool installedBundle(const QString &executableDir);

}  // namespace fennimar::macos
