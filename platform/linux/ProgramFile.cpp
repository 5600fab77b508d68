#include "platform/linux/ProgramFile.h"

#include <QFile>

#include <sys/stat.h>

namespace fennimar {

ProgramFile ProgramFile::at(const QString &path)
{
    struct stat info {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino), static_cast<qint64>(info.st_uid),
            info.st_nlink == 0};
}

ProgramFile ProgramFile::ofProcess(qint64 pid)
{
    return pid > 0 ? at(QStringLiteral("/proc/%1/exe").arg(pid)) : ProgramFile();
}

QString ProgramFile::linkOf(qint64 pid)
{
    if (pid <= 0)
        return {};
    QString target = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    if (target.endsWith(QLatin1String(" (deleted)")))
        target.chop(10);
    return target;
}

QString ProgramFile::runsRootFileAt(qint64 pid)
{
    const ProgramFile running = ofProcess(pid);
    const QString path = linkOf(pid);
    return running.owner == 0 && running.sameFile(at(path)) ? path : QString();
}

}  // namespace fennimar
