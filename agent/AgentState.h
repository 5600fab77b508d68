#pragma once

#include "services/PairedIdentity.h"

#include <QDateTime>
#include <QString>

#include <variant>

namespace fennimar {

// The agent's state. A plain value: copied, never shared.
namespace AgentStates {
struct Pairing {
    QString code;         // the pair code to show
    QDateTime expiresAt;  // when the code stops being valid
};
struct Paired {
    PairedIdentity identity;
};
struct Failed {
    QString message;  // a sentence for the user
    // Removing the stored pairing failed: the computer is still paired in the store, so what is
    // offered is unpairing again, never a new pairing (that would make a second device).
    bool unpairing = false;
};
struct Unpaired {};
}  // namespace AgentStates

using AgentState = std::variant<AgentStates::Unpaired, AgentStates::Pairing, AgentStates::Paired, AgentStates::Failed>;

}  // namespace fennimar
