#include "platform/PlatformPaths.h"

#include "platform/macos/sdk/AppleC.h"

#include <QDir>
#include <QFileInfo>

#include <cstdint>
#include <limits>
#include <vector>

#include <unistd.h>

namespace fennimar::platform {

QString logDirectory()
{
    return QDir::homePath() + QStringLiteral("/Library/Logs");
}

QString userDataDirectory()
{
    return QDir::homePath() + QStringLiteral("/Library/Application Support");
}

std::optional<QString> executableOf(qint64 pid)
{
    if (pid <= 0 || pid > std::numeric_limits<int>::max())
        return QString();
    std::vector<char> path(PROC_PIDPATHINFO_MAXSIZE, '\0');
    const int length = proc_pidpath(static_cast<int>(pid), path.data(), static_cast<uint32_t>(path.size()));
    if (length <= 0)
        return QString();
    return QString::fromUtf8(path.data(), length);
}

bool runsOurProgram(qint64 pid)
{
    // No user namespaces here to lend a path to another file: the path names the program.
    const std::optional<QString> theirs = executableOf(pid);
    return theirs && !theirs->isEmpty() && theirs == executableOf(getpid());
}

QString executableDirectory()
{
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);    // fails, and sets the size it needs
    std::vector<char> path(size + 1, '\0');  // the documented size counts the NUL; one more costs nothing
    if (_NSGetExecutablePath(path.data(), &size) != 0)
        return {};
    return QFileInfo(QString::fromUtf8(path.data())).canonicalPath();
}

}  // namespace fennimar::platform
