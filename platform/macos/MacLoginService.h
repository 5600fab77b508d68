#pragma once

#include "platform/LoginService.h"

namespace fennimar::macos {

// Start at login through ServiceManagement (macOS 13 and later): the launch agent defined by
// "app.fennimar.Agent.plist" in the bundle's Contents/Library/LaunchAgents, which starts the agent at
// login and again when it quits unsuccessfully (LoginItem's exit statuses). Each call is one
// synchronous request to the system's service manager (milliseconds). Main thread only.
class MacLoginService final : public LoginService {
public:
    Registration status() override;
    // Failures carry the system's description of the error.
    Status registerService() override;
    Status unregisterService() override;
    // System Settings > General > Login Items.
    void openSettings() override;
    // The bundle lies in /Applications (installedBundle).
    bool runsInstalled() override;
    bool canHandOver() override { return true; }
    // `launchctl kickstart gui/<uid>/app.fennimar.Agent`, 5 s at most.
    Status startRegistered() override;
};

}  // namespace fennimar::macos
