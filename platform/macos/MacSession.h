#pragma once

#include <optional>

namespace fennimar::macos {

// One look at the login session this process runs in (CGSessionCopyCurrentDictionary): a few
// microseconds, no I/O. A process outside a window-server session (ssh, a launch daemon) sees none.
struct SessionState {
    bool present = false;   // there is a session dictionary
    bool locked = false;    // "CGSSessionScreenIsLocked" is true; absent (the unlocked case) or any
                            // other value is unlocked
    bool onConsole = true;  // false while another user's session has the screen (fast user switching)
};
SessionState currentSession();

// Seconds since the last input event of any kind, keyboard, pointer or other HID device
// (CGEventSourceSecondsSinceLastEventType on the HID system state). Nothing when the system gives
// no usable number (negative or not finite).
std::optional<double> secondsSinceInput();

}  // namespace fennimar::macos
