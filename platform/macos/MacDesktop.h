#pragma once

#include "platform/Desktop.h"

#include <functional>

namespace fennimar::macos {

// The Mac's desktop for the sampler: the frontmost application from AppKit (handed in, because only
// Objective-C reaches it), idle time from the HID system's event source, the lock from the login
// session's dictionary. Main thread only: AppKit updates the frontmost application between turns of
// the main run loop, which Qt's Cocoa event dispatcher runs.
class MacDesktop final : public Desktop {
public:
    using FrontmostReader = std::function<std::optional<RunningApp>()>;
    explicit MacDesktop(FrontmostReader frontmost);

    // NSWorkspace's frontmostApplication; nothing outside a login session.
    std::optional<RunningApp> frontmostApp() override;
    // CGEventSourceSecondsSinceLastEventType; nothing when the system gives no number.
    std::optional<double> secondsSinceInput() override;
    // Locked also while another user's session has the screen: input then is not this user's.
    bool screenLocked() override;
    // Empty inside a login session; outside one (ssh, a launch daemon) no app is ever in front.
    QString samplingProblem() override;
    // A display-sleep assertion held by the front app's own pid (DisplayAssertions.h): matched by pid,
    // since the system lists assertions by the process that took them.
    bool frontAppWatching(const RunningApp &front) override;

private:
    FrontmostReader m_frontmost;
};

}  // namespace fennimar::macos
