#pragma once

#include "platform/Accessibility.h"
#include "core/Clock.h"

#include <functional>

namespace fennimar {

// The agent's dealings with the permission to read other applications' interfaces: asking for it
// and noticing when the user grants or withdraws it while the agent runs. Main thread only; the
// accessibility and the clock must outlive this object and every watcher it started.
class AccessibilityPermission {
public:
    static constexpr Millis checkInterval{5000};

    AccessibilityPermission(Accessibility &accessibility, Clock &clock);

    // Whether the permission is held now. One cheap query.
    bool isTrusted();

    // Remembers the permission as it is now and checks it again every 5 s (the first check 5 s
    // after the call). Each change logs "accessibility · GRANTED" or "accessibility · REVOKED" and
    // then calls onChange with the new value; a change and its reversal between two checks go
    // unseen. Watching lasts until the returned handle is cancelled or destroyed (onChange may do
    // that itself). Several watchers are independent.
    TimerHandle startWatching(std::function<void(bool)> onChange);

    // Asks the system to grant the permission when it is not held (no prompt when it is), then logs
    // "accessibility · prompted (granted=<true|false>)" with the state right after asking; a grant
    // the user gives later is reported by the watcher. Answers whether the caller should open the
    // settings (settingsNeeded).
    bool request();

    // Whether the user is sent to the settings after a request: only while the permission is
    // missing and no alert of the system's is expected, which is on a platform without one, or
    // after the first request of this run (macOS alerts once; a user who dismissed it is not
    // alerted again). Opening the settings on top of the alert hid the alert's own button. Pure.
    static bool settingsNeeded(bool trusted, bool systemPrompts, int earlierRequests);

private:
    Accessibility &m_accessibility;
    Clock &m_clock;
    int m_requests = 0;  // request() calls so far
};

}  // namespace fennimar
