#include "platform/macos/MacSession.h"

#include "platform/macos/CFHelpers.h"

#include <cmath>

namespace fennimar::macos {

SessionState currentSession()
{
    const auto dictionary = CFPtr<CFDictionaryRef>::adopt(CGSessionCopyCurrentDictionary());
    if (!dictionary)
        return {};
    SessionState state;
    state.present = true;
    // The lock key is undocumented; it is present (true) only while the screen is locked.
    state.locked = boolValue(valueForKey(dictionary.get(), QStringLiteral("CGSSessionScreenIsLocked"))) == true;
    // kCGSessionOnConsoleKey's string; a missing or mistyped value leaves the session on the console.
    state.onConsole = boolValue(valueForKey(dictionary.get(), QStringLiteral("kCGSSessionOnConsoleKey"))) != false;
    return state;
}

std::optional<double> secondsSinceInput()
{
    const double seconds =
        CGEventSourceSecondsSinceLastEventType(kCGEventSourceStateHIDSystemState, kCGAnyInputEventType);
    if (!std::isfinite(seconds) || seconds < 0)
        return std::nullopt;
    return seconds;
}

}  // namespace fennimar::macos
