#pragma once

#include <QString>

namespace fennimar {

// The window with keyboard focus as a desktop shell's own script or extension reports it: the
// app's desktop id as the shell knows it (a Wayland app_id, or empty), the WM_CLASS class and
// instance (or their Wayland counterparts), the pid of the window's client, and the window's title
// (which of a browser's windows is in front; empty when the shell's part does not send it).
struct ShellWindow {
    QString appId, wmClass, wmInstance;
    qint64 pid = 0;
    QString title;
};

}  // namespace fennimar
