#pragma once

#include <QString>

namespace fennimar::platform {

// The directory that holds the agent's log file "Fennimar.log" (Linux: $XDG_STATE_HOME/Fennimar,
// default ~/.local/state/Fennimar; macOS: ~/Library/Logs). Computed from the environment on every
// call, creates nothing, never fails: an empty string means the platform names no such directory.
QString logDirectory();

// The per-user directory under which the agent keeps its own files; "Fennimar" is appended by the
// caller (Linux: $XDG_DATA_HOME, default ~/.local/share; macOS: ~/Library/Application Support).
// Never empty: falls back to the home directory's conventional location.
QString userDataDirectory();

}  // namespace fennimar::platform
