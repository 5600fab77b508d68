#include "agent/AgentConfig.h"

#include "core/Log.h"
#include "services/AgentFiles.h"

namespace fennimar::AgentConfig {

QString sourceName(Source source)
{
    switch (source) {
        case Source::Environment:
            return QStringLiteral("environment variable FENNIMAR_BACKEND_URL");
        case Source::Setting:
            return QStringLiteral("setting \"backendURL\"");
        case Source::BuiltIn:
            return QStringLiteral("built-in default");
    }
    return {};
}

BackendChoice chooseBackend(const std::optional<QString> &environment, const std::optional<QString> &setting)
{
    if (environment)
        return {*environment, Source::Environment};
    if (setting)
        return {*setting, Source::Setting};
    return {QString::fromLatin1(builtInBackendURL), Source::BuiltIn};
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || host == QLatin1String("::1"))
        return true;
    // QUrl keeps a dotted IPv4 host as written; only four decimal parts with 127 first are loopback.
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 10);
        if (!ok || value > 255 || part.isEmpty() || part.size() > 3)
            return false;
    }
    return parts.first().toUInt() == 127;
}

Result<QUrl> parseBackendURL(const BackendChoice &choice, bool allowInsecureHttp)
{
    auto refuse = [&](const QString &why) {
        return Result<QUrl>::failure(QStringLiteral("backend URL from the %1 is not usable (%2): \"%3\"")
                                         .arg(sourceName(choice.source), why, choice.value));
    };
    if (choice.value.isEmpty())
        return refuse(QStringLiteral("it is empty"));
    const QUrl url(choice.value, QUrl::StrictMode);
    if (!url.isValid())
        return refuse(url.errorString());
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return refuse(QStringLiteral("it must start with http:// or https://"));
    if (url.host().isEmpty())
        return refuse(QStringLiteral("it names no host"));
    if (!url.userInfo().isEmpty())
        return refuse(QStringLiteral("it must not carry a user name or password"));
    if (url.hasQuery() || url.hasFragment())
        return refuse(QStringLiteral("it must not carry a query or fragment"));
    if (scheme == QLatin1String("http") && !allowInsecureHttp && !isLoopbackHost(url.host()))
        return refuse(
            QStringLiteral("plain http is allowed only to this computer (127.0.0.1, ::1, localhost): "
                           "the session token would cross the network unencrypted; use https, or set "
                           "FENNIMAR_ALLOW_INSECURE_HTTP=1 for a test backend"));
    return url;
}

Result<QUrl> backendURL()
{
    const bool insecure = qEnvironmentVariable(allowInsecureHttpVariable) == QLatin1String("1");
    if (insecure)
        Log::warn(
            QStringLiteral("FENNIMAR_ALLOW_INSECURE_HTTP=1 · plain http is allowed to any backend host · the "
                           "session token may cross the network unencrypted"));
    std::optional<QString> environment;
    if (qEnvironmentVariableIsSet("FENNIMAR_BACKEND_URL"))
        environment = qEnvironmentVariable("FENNIMAR_BACKEND_URL");
    return parseBackendURL(chooseBackend(environment, AgentFiles::setting(QStringLiteral("backendURL"))), insecure);
}

}  // namespace fennimar::AgentConfig
