#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fennimar::test {

// Things that are not a regular file, put where the agent expects one of its files. make() answers
// the file type it created, or 0 when this machine does not allow it (a device needs CAP_MKNOD).
// said: a word the log line about it must contain.
struct SpecialFile {
    const char *name;
    const char *said;
    mode_t (*make)(const QByteArray &path);
};

inline const SpecialFile specialFiles[] = {
    {"FIFO", "FIFO", [](const QByteArray &p) -> mode_t { return ::mkfifo(p, 0600) == 0 ? S_IFIFO : 0; }},
    {"directory", "directory", [](const QByteArray &p) -> mode_t { return ::mkdir(p, 0700) == 0 ? S_IFDIR : 0; }},
    {"device", "device",
     [](const QByteArray &p) -> mode_t { return ::mknod(p, S_IFCHR | 0600, makedev(1, 3)) == 0 ? S_IFCHR : 0; }},
    {"dangling symlink", "symbolic link",
     [](const QByteArray &p) -> mode_t { return ::symlink("no-such-target", p) == 0 ? S_IFLNK : 0; }},
    // Pointing at another file of the user's, "<name>.target", which must stay as it is.
    {"symlink to a file", "symbolic link",
     [](const QByteArray &p) -> mode_t {
         QFile target(QFile::decodeName(p + ".target"));
         return target.open(QIODevice::WriteOnly) && target.write("keep") == 4 && ::symlink(p + ".target", p) == 0
                    ? S_IFLNK
                    : 0;
     }},
};

// How many entries of dir have the given file type: the special file must still be there, under
// its own name or moved aside, never opened and replaced.
inline int entriesOfType(const QString &dir, mode_t type)
{
    int count = 0;
    for (const QString &name :
         QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        struct stat st {};
        count += ::lstat(QFile::encodeName(dir + u'/' + name).constData(), &st) == 0 && (st.st_mode & S_IFMT) == type;
    }
    return count;
}

// Frees a reader or writer stuck opening a FIFO after two seconds, so that a loader that blocks on
// one fails its time check instead of hanging the test program.
class FifoUnblocker {
public:
    explicit FifoUnblocker(QByteArray path)
        : m_thread([path = std::move(path)](std::stop_token stop) {
              const auto start = std::chrono::steady_clock::now();
              for (; !stop.stop_requested(); std::this_thread::sleep_for(std::chrono::milliseconds(20)))
                  if (std::chrono::steady_clock::now() - start > std::chrono::seconds(2))
                      if (const int fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
                          fd >= 0)
                          ::close(fd);
          })
    {
    }

private:
    std::jthread m_thread;
};

}  // namespace fennimar::test
