#pragma once

#include <functional>

namespace fennimar {

// Turns SIGTERM, SIGINT and SIGHUP into one call of onQuit on the main thread's event loop, so
// that a logout, Ctrl-C or `kill` ends the agent like its own quit: flush, then exit 0. Installed
// once by the composition root; a second signal while quitting is ignored.
void installQuitSignals(std::function<void()> onQuit);

}  // namespace fennimar
