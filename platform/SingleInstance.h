#pragma once

#include <QString>

namespace fennimar {

// The "one agent per user" rule. The copy that starts second is the one that gives way.
class SingleInstance {
public:
    virtual ~SingleInstance() = default;

    // Claims the right to run for this process's lifetime. true when this process holds it (now
    // or from an earlier call); false when another live copy for the same user holds it. A claim
    // left behind by a copy that died (even by kill -9) is taken over. Costs a few file-system
    // calls; never blocks waiting for the other copy. A claim that cannot be checked at all (an
    // unwritable directory) answers true and logs why: refusing to run would stop all counting.
    virtual bool claim() = 0;

    // Where the claim lives, for log lines.
    virtual QString location() const = 0;

    // The pid the claim names after claim() answered false (0 when it names none): whoever holds it,
    // which need not be a copy of the agent. A file read; never blocks.
    virtual qint64 holderPid() const = 0;
};

}  // namespace fennimar
