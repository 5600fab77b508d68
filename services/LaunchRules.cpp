#include "services/LaunchRules.h"

#include "platform/PlatformTraits.h"

#include <cstring>

namespace fennimar {

std::span<const LaunchRules::ControlOption> LaunchRules::controlOptions()
{
    static constexpr ControlOption options[] = {
        {"status", ControlCommand::Status, "Print what the running agent's menu shows."},
        {"pair", ControlCommand::Pair, "Ask the running agent for a new pair code and print it."},
        {"cancel-pairing", ControlCommand::CancelPairing, "Cancel the running agent's pairing."},
        {"unpair", ControlCommand::Unpair, "Unpair this computer (asks first unless --yes)."},
    };
    return options;
}

bool LaunchRules::wantsNoTray(std::span<const char *const> argv)
{
    for (std::size_t i = 1; i < argv.size(); ++i) {
        const char *arg = argv[i];
        if (!arg || std::strncmp(arg, "--", 2) != 0)
            continue;
        if (std::strcmp(arg + 2, "headless") == 0)
            return true;
        for (const ControlOption &o : controlOptions()) {
            if (std::strcmp(arg + 2, o.name) == 0)
                return true;
        }
    }
    return false;
}

std::optional<QString> LaunchRules::foreignHolder(qint64 pid, const std::optional<QString> &holderProgram,
                                                  const std::optional<QString> &ownProgram)
{
    if (!holderProgram || !ownProgram || (!holderProgram->isEmpty() && *holderProgram == *ownProgram))
        return std::nullopt;
    return QStringLiteral("pid %1 (%2)")
        .arg(pid)
        .arg(holderProgram->isEmpty() ? QStringLiteral("unknown program") : *holderProgram);
}

LaunchRules::Claim LaunchRules::claim(SingleInstance &lock, ControlServer &channel, ControlServer::Handler handler,
                                      const ProgramOf &programOf, qint64 ownPid)
{
    Claim outcome;
    // Whether the holder is a copy of the agent; any other holder is listed.
    const auto copyHolds = [&](qint64 pid, const QString &what) {
        const auto holder = foreignHolder(pid, programOf(pid), programOf(ownPid));
        if (holder)
            outcome.impostors << QStringLiteral("%1 is held by %2, not by Fennimar's agent").arg(what, *holder);
        return !holder;
    };
    if (!lock.claim() && copyHolds(lock.holderPid(), QStringLiteral("the lock ") + lock.location()))
        outcome.run = false;
    else if (channel.listen(std::move(handler)) == ControlServer::Claim::Taken &&
             copyHolds(channel.holderPid(), QStringLiteral("the bus name ") + QLatin1String(platform::AgentBundleID)))
        outcome.run = false;
    return outcome;
}

}  // namespace fennimar
