#include "platform/PlatformPaths.h"

#include <QDir>

namespace fennimar::platform {

QString logDirectory()
{
    return QDir::homePath() + QStringLiteral("/Library/Logs");
}

QString userDataDirectory()
{
    return QDir::homePath() + QStringLiteral("/Library/Application Support");
}

std::optional<QString> executableOf(qint64)
{
    return std::nullopt;
}

}  // namespace fennimar::platform
