#include "agent/AgentConfig.h"

#include "agent/Log.h"
#include "platform/DurableFile.h"
#include "platform/PlatformPaths.h"
#include "platform/UserSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace fennimar::AgentConfig {

namespace {
constexpr qint64 maxSettingsBytes = 1024 * 1024;
}

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
    return parseBackendURL(chooseBackend(environment, setting(QStringLiteral("backendURL"))), insecure);
}

QString supportDirectory()
{
    const QString dir = platform::userDataDirectory() + QStringLiteral("/Fennimar");
    if (!QFileInfo::exists(dir) && QDir().mkpath(dir))
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return dir;
}

Result<QString> privateSupportDirectory()
{
    const QString dir = platform::userDataDirectory() + QStringLiteral("/Fennimar");
    const Result<bool> made = makePrivateDirectory(dir);
    if (!made)
        return Result<QString>::failure(QStringLiteral("support directory refused · ") + made.error());
    if (made.value())
        Log::warn(QStringLiteral("support directory could be read by other users · made private (0700) · ") + dir);
    return dir;
}

namespace {
// The settings store opens its files with a blocking read: a FIFO or a device put in place of one
// would stop the agent before it starts. Each per-user file it may read must be absent or a
// regular file; otherwise the store is left alone and the built-in values hold.
bool settingsFilesAreSafe()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const QString &path :
         {base + QStringLiteral("/Fennimar/Fennimar.conf"), base + QStringLiteral("/Fennimar.conf")}) {
        const FileRead read = readSmallFile(path, maxSettingsBytes);
        if (!read.notFound && !read.error.isEmpty()) {
            Log::warn(QStringLiteral("settings file not used · ") + read.error);
            return false;
        }
    }
    return true;
}
}  // namespace

std::optional<QString> setting(const QString &key)
{
    if (!settingsFilesAreSafe())
        return std::nullopt;
    return platform::readSetting(key);
}

void setSetting(const QString &key, const QString &value)
{
    if (!settingsFilesAreSafe())
        return;
    platform::writeSetting(key, value);
}

}  // namespace fennimar::AgentConfig
