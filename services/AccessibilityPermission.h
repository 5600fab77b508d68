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
    // the user gives later is reported by the watcher.
    void request();

private:
    Accessibility &m_accessibility;
    Clock &m_clock;
};

}  // namespace fennimar
