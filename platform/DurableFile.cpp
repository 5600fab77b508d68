#include "platform/DurableFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fennimar {

namespace {
QString errnoText(const char *step, int error)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(error)));
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}
}  // namespace

Status writeFileAtomically(const QString &path, const QByteArray &bytes, Durability durability)
{
    const QFileInfo info(path);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    QByteArray tmp = QFile::encodeName(info.absoluteFilePath()) + ".tmp-XXXXXX";

    const int fd = ::mkstemp(tmp.data());  // creates with mode 0600
    if (fd < 0)
        return Status::failure(errnoText("could not create a temporary file", errno));
    auto fail = [&](const char *step) {
        const int error = errno;
        ::close(fd);
        ::unlink(tmp.constData());
        return Status::failure(errnoText(step, error));
    };
    if (!writeAll(fd, bytes.constData(), bytes.size()))
        return fail("could not write");
    if (durability == Durability::Synced && ::fsync(fd) != 0)
        return fail("could not flush to disk");
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(tmp.constData());
        return Status::failure(errnoText("could not close", error));
    }
    if (::rename(tmp.constData(), QFile::encodeName(info.absoluteFilePath()).constData()) != 0) {
        const int error = errno;
        ::unlink(tmp.constData());
        return Status::failure(errnoText("could not replace the file", error));
    }
    // A process killed between mkstemp and rename leaves its temporary file behind. Each file has one
    // writer (one agent per user, saving on its main thread), so any other temporary of this name
    // is such a leftover; without this they pile up, one per interrupted save.
    const QStringList leftovers =
        QDir(info.absolutePath())
            .entryList({info.fileName() + QStringLiteral(".tmp-??????")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : leftovers)
        QFile::remove(info.absolutePath() + QLatin1Char('/') + name);
    if (durability == Durability::Synced) {
        // The rename itself is durable only once the directory is on disk too.
        const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
    }
    return {};
}

FileRead readSmallFile(const QString &path, qint64 maxBytes)
{
    FileRead result;
    QFile file(path);
    if (!file.exists()) {
        result.notFound = true;
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("could not open %1: %2").arg(path, file.errorString());
        return result;
    }
    const qint64 size = file.size();
    if (size > maxBytes) {
        result.error =
            QStringLiteral("the file is %1 bytes, more than the %2 bytes it may hold").arg(size).arg(maxBytes);
        return result;
    }
    // Read at most one byte past the limit: a file that grows while we read is still refused.
    result.bytes = file.read(maxBytes + 1);
    if (result.bytes.size() > maxBytes)
        result.error = QStringLiteral("the file is larger than the %1 bytes it may hold").arg(maxBytes);
    else if (file.error() != QFileDevice::NoError)
        result.error = QStringLiteral("could not read %1: %2").arg(path, file.errorString());
    return result;
}

Result<QString> keepAside(const QString &path, const QDateTime &when)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString stamp = when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target;
    for (int n = 0; n < 100; ++n) {
        target = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("-unreadable-") +
                 stamp + (n ? QStringLiteral("-%1").arg(n) : QString()) + suffix;
        if (!QFileInfo::exists(target))
            break;
    }
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) == 0)
        return target;
    const QString renameError = errnoText("could not rename", errno);
    if (QFile::copy(path, target))
        return target;
    return Result<QString>::failure(renameError);
}

}  // namespace fennimar
