#include "agent/AgentConfig.h"

#include "platform/PlatformPaths.h"
#include "platform/UserSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

Result<QUrl> parseBackendURL(const BackendChoice &choice)
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
    return url;
}

Result<QUrl> backendURL()
{
    std::optional<QString> environment;
    if (qEnvironmentVariableIsSet("FENNIMAR_BACKEND_URL"))
        environment = qEnvironmentVariable("FENNIMAR_BACKEND_URL");
    return parseBackendURL(chooseBackend(environment, setting(QStringLiteral("backendURL"))));
}

QString supportDirectory()
{
    const QString dir = platform::userDataDirectory() + QStringLiteral("/Fennimar");
    if (!QFileInfo::exists(dir) && QDir().mkpath(dir))
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return dir;
}

std::optional<QString> setting(const QString &key)
{
    return platform::readSetting(key);
}

void setSetting(const QString &key, const QString &value)
{
    platform::writeSetting(key, value);
}

}  // namespace fennimar::AgentConfig
