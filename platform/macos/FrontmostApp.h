#pragma once

#include "platform/Desktop.h"

#include <optional>

namespace fennimar::macos {

// NSWorkspace's frontmost application (the one that owns the menu bar): bundle identifier (may be
// empty), process id, localized name and bundle path. Nothing when no application is in front.
// Main thread; microseconds (AppKit answers from what it learnt at the last run-loop turn).
std::optional<RunningApp> frontmostApplication();

}  // namespace fennimar::macos
