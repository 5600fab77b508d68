#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace fennimar {

// The agent's one log facility. Every line goes synchronously to standard error on the caller's
// thread, and is appended to "Fennimar.log" by one background thread in submission order. Callable
// from any thread; never fails and never blocks on the file.
namespace Log {

enum class Level { Info, Warn, Error };

// Writes "[fennimar HH:mm:ss LEVEL] message\n" (local time; LEVEL is "INFO ", "WARN " or "ERROR").
void emit(Level level, const QString &message);
inline void info(const QString &message)
{
    emit(Level::Info, message);
}
inline void warn(const QString &message)
{
    emit(Level::Warn, message);
}
inline void error(const QString &message)
{
    emit(Level::Error, message);
}

// The text with every control character written out ("\n", "\r", "\t", other C0 and C1 controls
// and DEL as "\xNN"), so that text from outside (a backend's error body) cannot start a line of its
// own in the log or the menu. Everything else is left as it is.
QString escapeControls(const QString &text);

// The finished line, byte for byte, as both destinations receive it; the message's control
// characters are escaped (escapeControls).
QByteArray formatLine(Level level, const QTime &localTime, const QString &message);

// Blocks until every line emitted so far has been handed to the file (or dropped). Called at an
// orderly exit so that the last lines are not lost; cheap when the queue is empty.
void drain();

// Names the file every line is appended to ("" for none). The composition root calls it once,
// before the first line; a later call changes nothing, since the writer opens its file once.
void setFilePath(const QString &path);

// Full path of the log file this process writes to (empty when none was named).
QString filePath();

}  // namespace Log

// The background half of Log: a FIFO of finished lines written by one thread to one file, which is
// opened (and its directory created) at the first write. A line that would take the file past
// maxBytes first moves it to "<path>.1" (replacing the one before) and starts a new file, so the log
// takes at most twice maxBytes; the line is written to the new file, never dropped. A batch holding
// a WARN or ERROR line reaches the disk before the writer goes on (a fault is told even if the
// power goes next). Public so that tests can point one at a file of their own.
class LogFileWriter {
public:
    static constexpr qint64 defaultMaxBytes = 2 * 1024 * 1024;  // about 20 000 lines
    explicit LogFileWriter(QString path, qint64 maxBytes = defaultMaxBytes);
    ~LogFileWriter();  // writes what is queued, then stops
    LogFileWriter(const LogFileWriter &) = delete;
    LogFileWriter &operator=(const LogFileWriter &) = delete;

    void append(QByteArray line);  // returns at once
    void drain();                  // returns when everything appended so far is written or dropped
    bool opened() const;           // after a drain: whether the file could be opened

private:
    void run();
    void openOnce();
    // Closes the full file durably, moves it aside and opens a fresh one; on a failure the current
    // file goes on growing (said once on standard error) rather than losing lines.
    void rotate();

    const QString m_path;
    const qint64 m_maxBytes;
    qint64 m_size = 0;
    bool m_rotateFailed = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<QByteArray> m_lines;
    bool m_busy = false;
    bool m_stop = false;
    bool m_triedOpen = false;
    int m_fd = -1;
    std::thread m_thread;
};

}  // namespace fennimar
