#pragma once

#include "core/Result.h"

#include <QString>

#include <functional>

namespace fennimar {

// What another process of the same user may ask the running agent: the menu's view and its
// actions, for a desktop without a tray.
enum class ControlCommand {
    Status,         // the menu as text
    Pair,           // start pairing; answered once this request's code or failure is known
    CancelPairing,  // cancel the pairing in progress
    Unpair,         // unpair (the caller asked the user before); answered once the pairing is deleted
};

// The running agent's end of its control channel, named after the agent's identifier.
class ControlServer {
public:
    // `reply` may be called at once or later, exactly once, on the main thread, with the text for
    // the caller, or with a failure (a refused or failed action) whose reason the caller prints
    // before exiting non-zero.
    using Reply = std::function<void(const Result<QString> &)>;
    using Handler = std::function<void(ControlCommand command, Reply reply)>;

    enum class Claim {
        Owned,        // this process answers from now on
        Taken,        // another live agent of this user answers: this copy must not run
        Unavailable,  // no channel at all (no session bus): the agent runs without one
    };

    virtual ~ControlServer() = default;

    // Claims the channel's name for this process's lifetime and starts answering with `handler`.
    // Never queues behind or replaces another owner. Costs one round trip to the bus (bounded by
    // the bus's own call timeout); the reason for Unavailable is logged.
    virtual Claim listen(Handler handler) = 0;

    // The pid of the process that holds the channel's name after listen() answered Taken, which
    // need not be the agent; 0 when unknown. One round trip to the bus, bounded to a second.
    virtual qint64 holderPid() const = 0;
};

}  // namespace fennimar
