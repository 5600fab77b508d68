#include "menubar/AgentControl.h"

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
        w.reply(
            Result<QString>::failure(QStringLiteral("Fennimar is quitting; the outcome is unknown.\n") + statusText()));
}

QString AgentControl::statusText()
{
    return StatusText::render(MenuBarController::menu(m_readings()));
}

void AgentControl::handle(ControlCommand command, ControlServer::Reply reply)
{
    const auto refused = [&](const Status &status) {
        reply(Result<QString>::failure(status.error() + QLatin1Char('\n')));
    };
    const quint64 before = m_agent.stateSerial();
    switch (command) {
        case ControlCommand::Status:
            break;
        case ControlCommand::Pair: {
            Log::info(QStringLiteral("control · pairing asked for from the command line"));
            if (const Status begun = m_agent.beginPairing(); !begun)
                return refused(begun);
            // A change that merely redraws (a heartbeat) or a state from before this request
            // says nothing of its outcome: only the state the request produced does.
            const auto produced = [this, before] { return m_agent.stateSerial() > before; };
            waitFor({[this, produced] {
                         return produced() && (std::holds_alternative<AgentStates::Pairing>(m_agent.state()) ||
                                               std::holds_alternative<AgentStates::Failed>(m_agent.state()));
                     },
                     [this] { return std::holds_alternative<AgentStates::Pairing>(m_agent.state()); },
                     std::move(reply),
                     {}});
            return;
        }
        case ControlCommand::CancelPairing:
            Log::info(QStringLiteral("control · pairing cancelled from the command line"));
            if (const Status cancelled = m_agent.cancelPairing(); !cancelled)
                return refused(cancelled);
            // The store is read again after a cancel (a keyring locked meanwhile is waited for):
            // the reply shows what that read found, not the moment before it.
            waitFor({[this] { return !m_agent.storeBusy(); }, [] { return true; }, std::move(reply), {}});
            return;
        case ControlCommand::Unpair:
            Log::info(QStringLiteral("control · unpairing asked for from the command line"));
            if (const Status begun = m_agent.unpair(); !begun)
                return refused(begun);
            waitFor({[this] { return !m_agent.storeBusy(); },
                     [this] { return std::holds_alternative<AgentStates::Unpaired>(m_agent.state()); },
                     std::move(reply),
                     {}});
            return;
    }
    reply(statusText());
}

void AgentControl::answer(Waiting &w)
{
    const QString text = statusText();
    w.reply(w.succeeded() ? Result<QString>(text) : Result<QString>::failure(text));
}

void AgentControl::waitFor(Waiting waiting)
{
    if (waiting.settled())  // a store that answers at once
        return answer(waiting);
    const int id = m_nextId++;
    Waiting &w = m_waiting[id] = std::move(waiting);
    w.deadline = m_clock.callAfter(settleLimit, [this, id] {
        auto node = m_waiting.extract(id);
        if (!node.empty())
            node.mapped().reply(
                Result<QString>::failure(QStringLiteral("Fennimar did not finish within 30 s.\n") + statusText()));
    });
}

void AgentControl::agentChanged()
{
    std::vector<Waiting> done;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (it->second.settled()) {
            done.push_back(std::move(it->second));
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    }
    for (Waiting &w : done)
        answer(w);
}

}  // namespace fennimar
