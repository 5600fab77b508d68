#pragma once

#include <QString>

#include <optional>

namespace fennimar::platform {

// The user's settings for the agent, as people set them by hand: on Linux
// $XDG_CONFIG_HOME/Fennimar/Fennimar.conf (organisation and application "Fennimar"); on macOS the
// defaults domain of AgentBundleID, so that `defaults write app.fennimar.Agent backendURL ...` is
// what the agent reads. Each call reads or writes the store anew (microseconds to a file read).
// readSetting: the value as text, nothing when absent or not text. writeSetting: stored and
// flushed; a failure to store is not reported (the next read tells).
std::optional<QString> readSetting(const QString &key);
void writeSetting(const QString &key, const QString &value);

// Names a throwaway store instead (macOS: the defaults domain; Linux: the organisation). Only tests
// set it: on macOS the defaults ignore HOME, so without it a test would write the user's own
// settings, which their real agent then reads.
constexpr const char *settingsDomainVariable = "FENNIMAR_SETTINGS_DOMAIN";

// Removes every setting of the throwaway store named by settingsDomainVariable, and does nothing
// when the variable is unset or empty, so that it can never wipe the user's real settings.
void clearThrowawaySettings();

}  // namespace fennimar::platform
