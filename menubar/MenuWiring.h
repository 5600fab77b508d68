#pragma once

#include "measure/ActivitySampler.h"
#include "menubar/MenuReadings.h"
#include "menubar/MenuActions.h"
#include "core/Clock.h"

#include <QString>

#include <functional>
#include <optional>

namespace fennimar {

class Agent;
class LoginItem;
struct Platform;

// Turns the agent into what the tray menu shows (MenuReadings) and what its entries do
// (MenuActions). Holds no state of its own beyond short-lived copies of the device's names. Main
// thread only; the agent, platform, login item and clock must outlive it.
class MenuWiring {
public:
    // How long the computer's and the user's names are reused: the icon asks for readings after
    // every heartbeat, and the computer name may cost a bus query.
    static constexpr Millis namesLifetime{60000};

    MenuWiring(Agent &agent, Platform &platform, LoginItem &loginItem, Clock &clock);

    // Everything the menu shows, read now: the agent's state and heartbeat outcome, today's total
    // from the ledger, the sampler's verdict, the monitored counts, the permission and login-item
    // status, the device's names. Costs a ledger look-up, one login-service query and one trust
    // check (both bounded by their platform contracts); never fails.
    MenuReadings readings();

    // The menu's entries bound to the agent. `quit` ends the event loop; the ledger is flushed
    // once, after it has ended, by the caller.
    MenuActions actions(std::function<void()> quit);

    // The sampler's verdict in the menu's own type (same kinds, subject and reason).
    static MenuVerdict toMenuVerdict(const ActivitySampler::Verdict &verdict);

private:
    void turnOnWebsiteCounting();

    Agent &m_agent;
    Platform &m_platform;
    LoginItem &m_loginItem;
    Clock &m_clock;
    QString m_computerName, m_userName;
    std::optional<Millis> m_namesReadAt;  // monotonic time of the last read
};

}  // namespace fennimar
