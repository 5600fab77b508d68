#include "app/AgentControl.h"

#include "agent/Agent.h"
#include "core/Log.h"
#include "menubar/MenuBarController.h"
#include "menubar/StatusText.h"

namespace fennimar {

AgentControl::AgentControl(Agent &agent, Clock &clock, std::function<MenuReadings()> readings)
    : m_agent(agent), m_clock(clock), m_readings(std::move(readings))
{
}

AgentControl::~AgentControl()
{
    auto waiting = std::move(m_waiting);
    for (auto &[id, w] : waiting)
        w.reply(statusText());
}

QString AgentControl::statusText()
{
    return StatusText::render(MenuBarController::menu(m_readings()));
}

void AgentControl::handle(ControlCommand command, std::function<void(const QString &)> reply)
{
    switch (command) {
        case ControlCommand::Status:
            break;
        case ControlCommand::Pair:
            Log::info(QStringLiteral("control · pairing asked for from the command line"));
            m_agent.beginPairing();
            // The state changes when the ticket arrives or the request fails.
            waitFor(
                [](const AgentState &s) {
                    return std::holds_alternative<AgentStates::Pairing>(s) ||
                           std::holds_alternative<AgentStates::Failed>(s);
                },
                std::move(reply));
            return;
        case ControlCommand::CancelPairing:
            Log::info(QStringLiteral("control · pairing cancelled from the command line"));
            m_agent.cancelPairing();
            waitFor([](const AgentState &s) { return !std::holds_alternative<AgentStates::Pairing>(s); },
                    std::move(reply));
            return;
        case ControlCommand::Unpair:
            Log::info(QStringLiteral("control · unpairing asked for from the command line"));
            m_agent.unpair();
            break;
    }
    reply(statusText());
}

void AgentControl::waitFor(std::function<bool(const AgentState &)> settled, std::function<void(const QString &)> reply)
{
    const int id = m_nextId++;
    Waiting &w = m_waiting[id];
    w.settled = std::move(settled);
    w.reply = std::move(reply);
    w.deadline = m_clock.callAfter(settleLimit, [this, id] {
        auto node = m_waiting.extract(id);
        if (!node.empty())
            node.mapped().reply(statusText());
    });
}

void AgentControl::agentChanged()
{
    if (m_waiting.empty())
        return;
    const AgentState state = m_agent.state();
    std::vector<std::function<void(const QString &)>> done;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (it->second.settled(state)) {
            done.push_back(std::move(it->second.reply));
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    }
    if (done.empty())
        return;
    const QString text = statusText();
    for (const auto &reply : done)
        reply(text);
}

}  // namespace fennimar
