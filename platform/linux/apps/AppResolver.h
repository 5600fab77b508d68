#pragma once

#include "platform/Desktop.h"
#include "platform/linux/ProgramFile.h"

#include <QString>

namespace fennimar {

class DesktopEntryCatalog;

// What the X server and /proc say about the focused window's application.
struct WindowFacts {
    qint64 pid = 0;
    QString wmInstance, wmClass;  // WM_CLASS
    QString gtkApplicationId;     // _GTK_APPLICATION_ID
    QString kdeDesktopFile;       // _KDE_NET_WM_DESKTOP_FILE
    QString executable;           // /proc/PID/exe, symlinks resolved
    ProgramFile program;          // the file /proc/PID/exe is, whatever path it reads as
    QString cgroup;               // /proc/PID/cgroup
    // [Application] name= of /proc/PID/root/.flatpak-info, read only for a Flatpak scope whose name
    // does not carry the id.
    QString flatpakId;

    // Fills executable, program, cgroup and flatpakId from <procRoot>/<pid>; missing files leave them empty.
    void readProcess(const QString &procRoot = QStringLiteral("/proc"));
};

// Maps a window to the desktop entry it belongs to, the Linux counterpart of a bundle identifier.
// First a sandbox's own id: the Flatpak app id, the Snap "<snap>_<app>" id. Then, for a process
// that runs a root-owned program other than an interpreter, a browser's system entry whose Exec is
// that very file (and no other entry's), whatever class or app id the window claims (firefox
// --class org.gnome.Calculator is still the browser). Then the rules, first that answers, over the system's entries
// and, unless the program is root's, then over the user's (a user's file may add an app, never take over the browser):
// the GTK application id, the KDE desktop file, StartupWMClass equal to the WM_CLASS class or instance (exactly, then
// ignoring case), a desktop-file id equal to the instance or the lower-cased class, and an entry whose Exec is the
// process's executable, unless that executable is an interpreter (python, sh, java, node, wine ...), which many
// unrelated apps share. An unmapped window gives an empty identifier with the pid and the WM_CLASS class as name:
// counting it under a guessed id would be worse than not counting it.
class AppResolver {
public:
    static RunningApp resolve(const WindowFacts &facts, DesktopEntryCatalog &catalog);

    // The Flatpak app id or Snap desktop id a cgroup line names, or empty.
    static QString flatpakIdFromCgroup(const QString &cgroup);
    static QString snapIdFromCgroup(const QString &cgroup);
    static bool isInterpreter(const QString &executable);
};

}  // namespace fennimar
