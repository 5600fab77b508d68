#include "core/DurableFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
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

QString fileTypeName(unsigned mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    if (S_ISREG(mode))
        return QStringLiteral("a file");
    return QStringLiteral("not a regular file");
}

FileRead readSmallFile(const QString &path, qint64 maxBytes, Links links)
{
    FileRead result;
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: opening a FIFO with no writer, or a device, must not wait; fstat then refuses it.
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(name.constData(), flags);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            result.notFound = true;
        } else if (error == ELOOP && links == Links::Refuse) {
            result.error = QStringLiteral("%1 is a symbolic link, which is not followed").arg(path);
        } else {
            result.error =
                QStringLiteral("could not open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
        }
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.error = QStringLiteral("%1 is %2, not a file").arg(path, fileTypeName(st.st_mode));
        ::close(fd);
        return result;
    }
    if (st.st_size > maxBytes) {
        result.error =
            QStringLiteral("the file is %1 bytes, more than the %2 bytes it may hold").arg(st.st_size).arg(maxBytes);
        ::close(fd);
        return result;
    }
    // Read at most one byte past the limit: a file that grows while we read is still refused. Files
    // under /proc and /sys report a size of 0 or 4096 whatever they hold, hence the growing buffer.
    const qint64 limit = maxBytes + 1;
    qsizetype got = 0;
    result.bytes.resize(static_cast<qsizetype>(std::min<qint64>(limit, std::max<qint64>(st.st_size + 1, 4096))));
    for (;;) {
        if (got == result.bytes.size()) {
            if (got >= limit)
                break;
            result.bytes.resize(static_cast<qsizetype>(std::min<qint64>(limit, 2 * qint64(got))));
        }
        const ssize_t n = ::read(fd, result.bytes.data() + got, static_cast<size_t>(result.bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error =
                QStringLiteral("could not read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    result.bytes.truncate(result.error.isEmpty() ? got : 0);
    if (got > maxBytes) {
        result.error = QStringLiteral("the file is larger than the %1 bytes it may hold").arg(maxBytes);
        result.bytes.clear();
    }
    return result;
}

Result<bool> makePrivateDirectory(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    auto fail = [&](const char *what) {
        const int error = errno;
        return Result<bool>::failure(QStringLiteral("could not %1 %2: %3")
                                         .arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(error))));
    };
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (errno != ENOENT)
            return fail("inspect");
        // Created private from the first moment: no window in which another user could open it.
        QDir().mkpath(QFileInfo(path).absolutePath());
        if ((::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) || ::stat(name.constData(), &st) != 0)
            return fail("create");
    }
    if (!S_ISDIR(st.st_mode))
        return Result<bool>::failure(QStringLiteral("%1 is %2, not a directory").arg(path, fileTypeName(st.st_mode)));
    if (st.st_uid != ::geteuid()) {
        return Result<bool>::failure(QStringLiteral("%1 belongs to user id %2, not to this user (id %3)")
                                         .arg(path)
                                         .arg(st.st_uid)
                                         .arg(::geteuid()));
    }
    if ((st.st_mode & 077) == 0)
        return false;
    if (::chmod(name.constData(), 0700) != 0)
        return fail("make private");
    return true;
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
    // Copying opens the source: only a regular file, never a FIFO that would block.
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) && QFile::copy(path, target))
        return target;
    return Result<QString>::failure(renameError);
}

}  // namespace fennimar
