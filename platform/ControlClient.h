#pragma once

#include "core/Clock.h"
#include "platform/ControlServer.h"
#include "core/Result.h"

namespace fennimar {

// The command line's end of the running agent's control channel.
class ControlClient {
public:
    virtual ~ControlClient() = default;

    // Sends `command` to the running agent and returns its answer. Blocks for at most `limit`.
    // Fails with a sentence for the user when no agent runs for this user (the text says so), when
    // the channel is unreachable, when no answer came within `limit`, or with the agent's own
    // reason when it refused or failed the action.
    virtual Result<QString> send(ControlCommand command, Millis limit) = 0;
};

}  // namespace fennimar
