#pragma once

#include <QtGlobal>

namespace fennimar::macos {

// Whether process `pid` holds an active display-sleep assertion: PreventUserIdleDisplaySleep, or
// NoDisplaySleepAssertion, the deprecated name the system may still report (Chrome takes it for a
// playing video, Safari and other players the first). Music takes a system-sleep assertion, often
// under coreaudiod's pid, so it never counts. One IOPMCopyAssertionsByProcess call to the power
// daemon (tens of microseconds, no disk); false when it fails.
bool holdsDisplayAssertion(qint64 pid);

}  // namespace fennimar::macos
