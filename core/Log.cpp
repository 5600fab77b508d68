#include "core/Log.h"
#include "core/LogFileWriter.h"

#include "core/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace fennimar {

namespace {

void writeFully(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // a failed write loses this line only
        data += n;
        left -= n;
    }
}

const char *levelWord(Log::Level level)
{
    switch (level) {
        case Log::Level::Info:
            return "INFO ";
        case Log::Level::Warn:
            return "WARN ";
        case Log::Level::Error:
            return "ERROR";
    }
    return "ERROR";
}

std::mutex &stderrMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString &namedFilePath()
{
    static QString path;
    return path;
}

LogFileWriter &processWriter()
{
    static LogFileWriter writer(Log::filePath());
    return writer;
}

}  // namespace

QString Log::escapeControls(const QString &text)
{
    const auto isControl = [](char16_t c) { return c < 0x20 || (c >= 0x7f && c <= 0x9f); };
    if (std::none_of(text.begin(), text.end(), [&](QChar c) { return isControl(c.unicode()); }))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            out += QLatin1String("\\n");
        else if (u == u'\r')
            out += QLatin1String("\\r");
        else if (u == u'\t')
            out += QLatin1String("\\t");
        else if (isControl(u))
            out += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QByteArray Log::formatLine(Level level, const QTime &localTime, const QString &message)
{
    QByteArray line;
    const QByteArray text = escapeControls(message).toUtf8();
    line.reserve(text.size() + 27);
    line.append("[fennimar ");
    line.append(localTime.toString(QStringLiteral("HH:mm:ss")).toLatin1());
    line.append(' ');
    line.append(levelWord(level));
    line.append("] ");
    line.append(text);
    line.append('\n');
    return line;
}

void Log::emit(Level level, const QString &message)
{
    const QByteArray line = formatLine(level, QTime::currentTime(), message);
    {
        // Whole lines on standard error even when several threads log at once.
        std::lock_guard lock(stderrMutex());
        writeFully(STDERR_FILENO, line);
    }
    processWriter().append(line);
}

void Log::drain()
{
    processWriter().drain();
}

void Log::setFilePath(const QString &path)
{
    namedFilePath() = path;
}

QString Log::filePath()
{
    return namedFilePath();
}

LogFileWriter::LogFileWriter(QString path, qint64 maxBytes)
    : m_path(std::move(path)), m_maxBytes(maxBytes), m_thread([this] { run(); })
{
}

LogFileWriter::~LogFileWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

void LogFileWriter::append(QByteArray line)
{
    {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(std::move(line));
    }
    m_wake.notify_one();
}

void LogFileWriter::drain()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_lines.empty() && !m_busy; });
}

bool LogFileWriter::opened() const
{
    return m_fd >= 0;
}

void LogFileWriter::openOnce()
{
    m_triedOpen = true;
    if (m_path.isEmpty())
        return;
    const QString dir = QFileInfo(m_path).absolutePath();
    QDir().mkpath(dir);
    // The log names the sites a child visited: readable by the user only. Only a folder of the log's
    // own (named after it, "Fennimar/Fennimar.log") is tightened; a shared one such as macOS's
    // ~/Library/Logs belongs to every app of the user and is left as it is.
    if (QFileInfo(dir).fileName() == QFileInfo(m_path).completeBaseName())
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Never follows a link put in its place (which could point the log at any file of the user's)
    // and never waits on a FIFO: only a regular file is written.
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if ((st.st_mode & 077) != 0)
            ::fchmod(fd, 0600);  // a file an older version or another program left open to others
        m_fd = fd;
        m_size = st.st_size;
        return;
    }
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    struct stat found {};
    const bool special = ::lstat(QFile::encodeName(m_path).constData(), &found) == 0 && !S_ISREG(found.st_mode);
    const QString why = special ? QStringLiteral("it is %1, not a file").arg(fileTypeName(found.st_mode))
                                : QString::fromLocal8Bit(std::strerror(error));
    // Said on standard error, the one place still listening; the file itself is left as it is.
    const QByteArray line = Log::formatLine(Log::Level::Warn, QTime::currentTime(),
                                            QStringLiteral("log file not written · %1 · %2").arg(m_path, why));
    std::lock_guard lock(stderrMutex());
    writeFully(STDERR_FILENO, line);
}

void LogFileWriter::rotate()
{
    const QByteArray path = QFile::encodeName(m_path);
    ::fdatasync(m_fd);
    const int fd = ::rename(path.constData(), (path + ".1").constData()) == 0
                       ? ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600)
                       : -1;
    if (fd < 0) {
        // The rename may have worked: the open file then goes on as "<path>.1", which loses nothing.
        m_rotateFailed = true;
        const QByteArray line = Log::formatLine(
            Log::Level::Warn, QTime::currentTime(),
            QStringLiteral("log not rotated · %1 · %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno))));
        std::lock_guard lock(stderrMutex());
        writeFully(STDERR_FILENO, line);
        return;
    }
    ::close(m_fd);
    m_fd = fd;
    m_size = 0;
    // The new name and the old one reach the disk together.
    if (const int dir =
            ::open(QFile::encodeName(QFileInfo(m_path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void LogFileWriter::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_lines.empty(); });
        if (m_lines.empty() && m_stop)
            return;
        std::deque<QByteArray> batch;
        batch.swap(m_lines);
        m_busy = true;
        lock.unlock();
        if (!m_triedOpen)
            openOnce();
        if (m_fd >= 0) {
            bool fault = false;
            for (const QByteArray &line : batch) {
                if (m_size > 0 && m_size + line.size() > m_maxBytes && !m_rotateFailed)
                    rotate();
                writeFully(m_fd, line);
                m_size += line.size();
                // "[fennimar HH:mm:ss " is 19 bytes; the level word follows.
                fault = fault || (line.size() > 19 && (line.at(19) == 'W' || line.at(19) == 'E'));
            }
            if (fault)
                ::fdatasync(m_fd);
        }
        lock.lock();
        m_busy = false;
        if (m_lines.empty())
            m_idle.notify_all();
    }
}

}  // namespace fennimar
