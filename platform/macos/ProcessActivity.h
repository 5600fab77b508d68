#pragma once

namespace fennimar::macos {

// Declares this process's work user-initiated for as long as it lives (NSProcessInfo's
// beginActivityWithOptions, without keeping the system awake when idle). A menu-bar app without
// windows is otherwise put in App Nap: its timers fire seconds late, a tick more than 4 s after the
// previous one credits nothing, and the day's count falls short. Later calls do nothing. One call
// into Foundation; cannot fail.
void holdProcessActivity();

}  // namespace fennimar::macos
