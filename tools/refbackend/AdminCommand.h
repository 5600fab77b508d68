#pragma once

#include <QStringList>

namespace fennimar::refbackend {

// The command-line face of the admin routes, for people at a terminal and for test harnesses.
// Every command also takes --admin-token-file FILE, the file the server wrote its token to:
//   admin --url URL claim CODE --child NAME [--device-name NAME]
//   admin --url URL set-apps --child NAME [--unblocked ID]... ID...
//   admin --url URL devices
//   admin --url URL overview                  (what the page at "/" shows)
//   admin --url URL remove-device ID
//   admin --url URL fault --route R --kind K [--count N] [--status S] [--body TEXT]
//                         [--delay-ms MS] [--size BYTES] [--location URL]
//   admin --url URL fault --clear
//   admin --url URL fault                     (lists the faults still waiting)
namespace AdminCommand {

// Runs one command (arguments start after "admin"; the first is the program name). Prints the
// server's JSON answer on standard output and returns 0 for a 2xx answer; prints the reason on
// standard error and returns 1 for anything else, 64 for a command line it cannot use. Blocks
// for at most 30 s of silence from the server.
int run(const QStringList &arguments);

}  // namespace AdminCommand

}  // namespace fennimar::refbackend
