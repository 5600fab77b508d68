#pragma once

#include "platform/Result.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace fennimar {

// Where the agent's two configurable facts come from: the backend base URL and the directory that
// holds its files. No state; every call reads the environment and the settings store again.
namespace AgentConfig {

// The hosted production backend, used when nothing overrides it.
inline constexpr const char *builtInBackendURL = "https://api.fennimar.com";

enum class Source { Environment, Setting, BuiltIn };
QString sourceName(Source source);  // "environment variable FENNIMAR_BACKEND_URL", ...

struct BackendChoice {
    QString value;  // the string as found, unchanged
    Source source = Source::BuiltIn;
};

// First match wins: FENNIMAR_BACKEND_URL when present (even empty), the "backendURL" setting when
// present, the built-in URL.
BackendChoice chooseBackend(const std::optional<QString> &environment, const std::optional<QString> &setting);

// The chosen string as a base URL: an absolute http or https URL with a host and no user info,
// query or fragment. Plain http is accepted only for a loopback host (127.0.0.0/8, ::1,
// "localhost"), because the session token and the pairing answer travel in it, unless
// allowInsecureHttp. Anything else is refused with a sentence that names where the value came from,
// the value itself and why; there is no fallback to another backend.
Result<QUrl> parseBackendURL(const BackendChoice &choice, bool allowInsecureHttp = false);

// Whether host is a loopback name or address: "localhost", 127.0.0.0/8 in dotted form, or ::1.
bool isLoopbackHost(const QString &host);

// The environment variable that lets plain http reach any host (value "1"), for a test backend on
// another machine of a trusted network.
inline constexpr const char *allowInsecureHttpVariable = "FENNIMAR_ALLOW_INSECURE_HTTP";

// chooseBackend + parseBackendURL over the process environment and the settings store. Logs a WARN
// on every call while FENNIMAR_ALLOW_INSECURE_HTTP=1 is set, so the weakened rule is never silent.
Result<QUrl> backendURL();

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

}  // namespace AgentConfig
}  // namespace fennimar
