#pragma once

#include "agent/AgentState.h"
#include "menubar/MenuReadings.h"
#include "core/Clock.h"
#include "platform/ControlServer.h"

#include <functional>
#include <map>

namespace fennimar {

class Agent;

// The running agent's answers on its control channel (fennimar-agent --status, --pair,
// --cancel-pairing, --unpair): the status is the menu rendered as text, and each action answers
// with that text once its own outcome is known, so that the caller prints the new code or state;
// a refused or failed action answers with a failure carrying the reason.
// Main thread only; the agent and the clock must outlive it.
class AgentControl {
public:
    // How long an action's answer waits for the agent to settle before answering with the state
    // as it is (the pair-code request itself is bounded by the backend client).
    static constexpr Millis settleLimit{30000};

    AgentControl(Agent &agent, Clock &clock, std::function<MenuReadings()> readings);
    // Answers the callers still waiting with a failure and the state as it is, so that none waits
    // in vain.
    ~AgentControl();
    AgentControl(const AgentControl &) = delete;
    AgentControl &operator=(const AgentControl &) = delete;

    // Runs `command` and calls `reply` exactly once: at once for the status, a cancellation and a
    // refusal; for pairing once a state produced after this request shows a code (success) or a
    // failure; for unpairing once the deletion has finished (success only when unpaired); a
    // failure when nothing settled within settleLimit.
    void handle(ControlCommand command, ControlServer::Reply reply);

    // Called after every change of the agent; answers the callers whose action has settled.
    void agentChanged();

    // The menu as text, read now.
    QString statusText();

private:
    struct Waiting {
        std::function<bool()> settled;    // the action's outcome is known
        std::function<bool()> succeeded;  // read once settled
        ControlServer::Reply reply;
        TimerHandle deadline;
    };
    void waitFor(Waiting waiting);
    void answer(Waiting &waiting);

    Agent &m_agent;
    Clock &m_clock;
    std::function<MenuReadings()> m_readings;
    std::map<int, Waiting> m_waiting;
    int m_nextId = 0;
};

}  // namespace fennimar
