#pragma once

#include "menubar/TrayModule.h"

namespace fennimar {

// The tray module for this run, or null when it cannot be had: a WARN line names why, and the
// agent then runs without the tray icon and tells the user through notifications. Where the tray is
// a module of its own it is looked for beside the executable (a build tree), then in the directory
// the installation put it in; loading it costs a few milliseconds and maps Qt Gui and Widgets.
// Where CMake linked the tray into the executable it never fails. Call before the application
// object exists; the module stays loaded until the process ends.
TrayModule *loadTrayModule();

}  // namespace fennimar
