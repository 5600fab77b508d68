#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace fennimar {

// The background half of Log: a FIFO of finished lines written by one thread to one file, which is
// opened (and its directory created) at the first write. A line that would take the file past
// maxBytes first moves it to "<path>.1" (replacing the one before) and starts a new file, so the log
// takes at most twice maxBytes; the line is written to the new file, never dropped. A batch holding
// a WARN or ERROR line reaches the disk before the writer goes on (a fault is told even if the
// power goes next).
// Kept out of core/Log.h, which most of the agent includes, so that only Log.cpp and its test see
// the threads and locks it is made of; the test points one at a file of its own.
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
