#pragma once

#include "core/Result.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace fennimar {

// Where the backend base URL comes from. No state; every call reads the environment and the settings
// store again.
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

}  // namespace AgentConfig
}  // namespace fennimar
