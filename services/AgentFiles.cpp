#include "services/AgentFiles.h"

#include "core/DurableFile.h"
#include "core/Log.h"
#include "platform/PlatformPaths.h"
#include "platform/UserSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace fennimar::AgentFiles {

namespace {
constexpr qint64 maxSettingsBytes = 1024 * 1024;
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
    const QString throwaway = qEnvironmentVariable(platform::settingsDomainVariable);  // tests' own store
    const QString store = base + QLatin1Char('/') + (throwaway.isEmpty() ? QStringLiteral("Fennimar") : throwaway);
    for (const QString &path : {store + QStringLiteral("/Fennimar.conf"), store + QStringLiteral(".conf")}) {
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

}  // namespace fennimar::AgentFiles
