#pragma once

#include "platform/ControlClient.h"

#include <QTextStream>

namespace fennimar {

// The command line's side of --status, --pair, --cancel-pairing and --unpair: asks the running
// agent and prints its answer. A second process never opens the ledger or the secret store.
namespace ControlCommands {

// Sends `command` to the running agent and prints the menu it answers with on `out`. Unpairing
// first checks that an agent runs, then asks on `out` and reads the answer from `in` unless
// `assumeYes`. Returns the exit status: 0 when done, 1 when no agent runs, it did not answer in
// time, it refused or failed the action (pairing a paired computer, a deletion the secret store
// refused), or the user did not confirm (each with the reason on `err`). Bounded: at most about 45 s
// for --pair and --unpair (the agent answers once the outcome is known), 10 s otherwise,
// plus the user's time to answer.
int run(ControlClient &client, ControlCommand command, bool assumeYes, QTextStream &in, QTextStream &out,
        QTextStream &err);

}  // namespace ControlCommands
}  // namespace fennimar
