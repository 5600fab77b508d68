#pragma once

#include "platform/ControlServer.h"
#include "platform/SingleInstance.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <span>

namespace fennimar {

// What a starting copy of the program decides from its command line and from who holds the agent's
// claim, before it becomes the agent or talks to one. Pure functions, so that each rule has a table.
class LaunchRules {
public:
    // The options that talk to the running agent instead of becoming one.
    struct ControlOption {
        const char *name;  // without the leading "--"
        ControlCommand command;
        const char *help;
    };
    static std::span<const ControlOption> controlOptions();

    // Whether the command line (argv[0] is the program) asks for no tray: --headless or a control
    // option, written exactly. Read before the application object exists, because the widgets
    // application connects to the display in its constructor.
    static bool wantsNoTray(std::span<const char *const> argv);

    // Who holds one of the agent's claims (its lock file, its bus name), as a log and evidence
    // phrase "pid N (program)" when it is not a copy of this program; nothing when it is, or when
    // the platform cannot tell (holderProgram or ownProgram without a value: deferring to a copy is
    // then the safe guess). An empty holderProgram is a process gone or not ours to read: not a copy.
    // Any program of the session can take the name or the lock first, so only a copy is deferred to.
    static std::optional<QString> foreignHolder(qint64 pid, const std::optional<QString> &holderProgram,
                                                const std::optional<QString> &ownProgram);

    // The outcome of claiming the agent's lock and its control channel.
    struct Claim {
        bool run = true;        // false: a copy of the agent holds one of them, this copy must exit
        QStringList impostors;  // each claim held by another program, which this copy runs past
    };
    using ProgramOf = std::function<std::optional<QString>(qint64 pid)>;  // platform::executableOf
    // Claims the lock, then, unless a copy of the agent holds the lock, the channel with handler: the
    // channel's name is a second guard, for a copy whose lock lives elsewhere (another runtime
    // directory). A claim held by another program (foreignHolder over programOf's answers for the
    // holder and ownPid) is listed as "the lock <where> is held by pid N (program), not by
    // Fennimar's agent" and passed over. Costs what the two claims and programOf cost.
    static Claim claim(SingleInstance &lock, ControlServer &channel, ControlServer::Handler handler,
                       const ProgramOf &programOf, qint64 ownPid);
};

}  // namespace fennimar
