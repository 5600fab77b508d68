#include "platform/PlatformPaths.h"

#include <QDir>

namespace fennimar::platform {

namespace {
// XDG base directories: an unset, empty or relative value is ignored in favour of the default.
QString xdgDirectory(const char *variable, const QString &defaultBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + QLatin1Char('/') + defaultBelowHome;
}
}  // namespace

QString logDirectory()
{
    return xdgDirectory("XDG_STATE_HOME", QStringLiteral(".local/state")) + QStringLiteral("/Fennimar");
}

QString userDataDirectory()
{
    return xdgDirectory("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

}  // namespace fennimar::platform
