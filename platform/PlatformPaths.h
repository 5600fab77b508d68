#pragma once

#include <QString>

#include <optional>

namespace fennimar::platform {

// The directory that holds the agent's log file "Fennimar.log" (Linux: $XDG_STATE_HOME/Fennimar,
// default ~/.local/state/Fennimar; macOS: ~/Library/Logs). Computed from the environment on every
// call, creates nothing, never fails: an empty string means the platform names no such directory.
QString logDirectory();

// The per-user directory under which the agent keeps its own files; "Fennimar" is appended by the
// caller (Linux: $XDG_DATA_HOME, default ~/.local/share; macOS: ~/Library/Application Support).
// Never empty: falls back to the home directory's conventional location.
QString userDataDirectory();

// The program file the live process pid runs, so that a copy of the agent can be told from another
// program holding the agent's name or lock. Linux: the target of /proc/<pid>/exe without the
// " (deleted)" a package upgrade leaves behind; macOS: proc_pidpath. Empty for a pid that is gone,
// 0, or one the system will not describe (another user's on Linux). Nothing only where the platform
// cannot tell at all (a holder is then taken for the agent). One readlink or one system call.
std::optional<QString> executableOf(qint64 pid);

// Whether the live process pid runs this process's own program file. A path is not enough: any
// file can be mounted over ours in a user namespace. Linux: the same device and inode through
// /proc/<pid>/exe and /proc/self/exe, or, after a package upgrade replaced the file under one of
// them, root's files read at the same path; false for a pid that is gone or another user's. Two stat
// calls. macOS: the same path (proc_pidpath), where no namespace can lend a path to another file.
bool runsOurProgram(qint64 pid);

// The directory of this process's executable file, symbolic links resolved (Linux: /proc/self/exe;
// macOS: the dynamic loader's path). Costs one system call; an empty string when it cannot be read.
QString executableDirectory();

}  // namespace fennimar::platform
