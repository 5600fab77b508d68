#pragma once

#include "core/Result.h"

namespace fennimar {

// The per-user "start at login" registration (macOS launch agent, Linux systemd user unit or XDG
// autostart entry). Main thread only; each call is a short, bounded operation.
class LoginService {
public:
    enum class Registration {
        NotRegistered = 0,
        Enabled = 1,
        RequiresApproval = 2,  // registered but turned off by the user or awaiting approval
        NotFound = 3,          // the service definition is missing or broken
    };
    virtual ~LoginService() = default;

    // Whether the agent starts at the next login. May answer from the platform's last answer while
    // asking again in the background where asking could block (Linux's user manager), so the main
    // thread never waits on it after the first call; a change made elsewhere shows within a call or
    // two. Failures to ask read as NotFound.
    virtual Registration status() = 0;
    // Registers the agent to start at login (and to be restarted if it quits). On failure the
    // reason is a sentence for the log.
    virtual Status registerService() = 0;
    virtual Status unregisterService() = 0;
    // Opens the desktop's startup-applications settings where one is known; otherwise logs where
    // the registration lives. Never fails.
    virtual void openSettings() = 0;
    // Whether this program runs from where installed copies live (macOS: a bundle in /Applications),
    // the only copies that register themselves. Cheap, never fails. Default:
    // anywhere, for a platform whose registration names whichever program registered it.
    virtual bool runsInstalled() { return true; }
    // Whether startRegistered() can start the registered agent, which then knows itself as the job
    // (LoginItem::jobVariable): macOS. Cheap. Default: no.
    virtual bool canHandOver() { return false; }
    // Asks the system to start the registered agent now (macOS: launchctl kickstart), waiting 5 s
    // at most; a job already running is left as it is. On failure the reason is a sentence for the
    // log. Default: not possible, the registration starts the agent only at login.
    virtual Status startRegistered()
    {
        return Status::failure(QStringLiteral("the registration starts the agent only at login"));
    }
};

}  // namespace fennimar
