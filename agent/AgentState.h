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
};
struct Unpaired {};
}  // namespace AgentStates

using AgentState = std::variant<AgentStates::Unpaired, AgentStates::Pairing, AgentStates::Paired, AgentStates::Failed>;

}  // namespace fennimar
