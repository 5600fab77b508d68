#pragma once

#include "platform/LoginService.h"

namespace fennimar::macos {

// SMAppService's status as the login item reads it: NotRegistered 0, Enabled 1, RequiresApproval 2
// (also when the user switched the item off in System Settings), NotFound 3. A value a later macOS
// may add is read as NotFound, so that the login item tries to register rather than trusting it.
LoginService::Status loginStatusFromServiceManagement(long status);

// Whether the program in executableDir (the bundle's Contents/MacOS) belongs to a bundle that lies
// in /Applications or home's Applications folder, at any depth: the copies a parent installs.
// A build tree, a mounted disk image or Downloads are not. Both paths absolute and clean. Pure.
bool installedBundle(const QString &executableDir, const QString &home);

}  // namespace fennimar::macos
