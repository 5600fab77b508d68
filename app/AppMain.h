#pragma once

namespace fennimar {

// The process: the single-instance rule, the backend URL check, the login item, the agent (and,
// with a display, its tray menu), the event loop, and the flush at exit. The composition root: the
// only place that creates the concrete clock, platform and backend client.
namespace AppMain {

// Runs the agent until it is asked to quit (the menu, SIGTERM, SIGINT or SIGHUP), then saves the
// ledger once. With --headless, or without a display (neither DISPLAY nor WAYLAND_DISPLAY set), it
// runs everything but the tray on a console application; while no tray icon is on screen the user
// is told what to act on by notifications. With --status, --pair, --cancel-pairing or --unpair it
// only asks the running agent (see ControlCommands). Returns the process's exit status: 0 after an
// orderly run or a hand-over to the login item's job, 1 when a command found no agent or was not
// confirmed, 2 for a bad command line, 3 when another copy is already running, 78 when the backend
// URL is not usable; the login item's job exits 0 only when another copy runs and 75 after a run
// (LoginItem::exitStatus), so that launchd starts it again however it was quit.
int run(int argc, char *argv[]);

}  // namespace AppMain
}  // namespace fennimar
