#include "platform/PlatformPaths.h"

#include "platform/linux/ProgramFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

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

std::optional<QString> executableOf(qint64 pid)
{
    if (pid <= 0)
        return QString();
    QString target = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    if (target.endsWith(QLatin1String(" (deleted)")))
        target.chop(10);
    return target;
}

bool runsOurProgram(qint64 pid)
{
    const ProgramFile theirs = ProgramFile::ofProcess(pid);
    const ProgramFile ours = ProgramFile::at(QStringLiteral("/proc/self/exe"));
    if (theirs.sameFile(ours))
        return true;
    // An upgrade leaves the older copy running a removed file; only root could have put either there.
    return (theirs.removed || ours.removed) && theirs.owner == 0 && ours.owner == 0 &&
           ProgramFile::linkOf(pid) == ProgramFile::linkOf(::getpid());
}

QString executableDirectory()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

}  // namespace fennimar::platform
