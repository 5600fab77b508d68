#pragma once

#include "core/Result.h"

#include <QString>

#include <optional>

namespace fennimar {

// Where the agent keeps its files and settings. No state; every call reads the environment and the
// settings store again.
namespace AgentFiles {

// The agent's directory (Linux: $XDG_DATA_HOME/Fennimar, macOS: ~/Library/Application Support/Fennimar),
// created with its parents and readable by the user only. Never fails: a directory that cannot be
// created is still returned, and the writers that use it report their own failures.
QString supportDirectory();

// The support directory made safe to keep the ledger in before anything else uses it: created 0700,
// tightened to 0700 (with one WARN line) when others could enter it, refused when it is not a
// directory or belongs to another user. The refusal is one sentence for the log: start-up stops,
// because a directory someone else controls can be read or swapped under the agent.
Result<QString> privateSupportDirectory();

// The settings store (platform::readSetting): $XDG_CONFIG_HOME/Fennimar/Fennimar.conf on Linux, the
// defaults domain "app.fennimar.Agent" on macOS.
std::optional<QString> setting(const QString &key);
void setSetting(const QString &key, const QString &value);

}  // namespace AgentFiles
}  // namespace fennimar
