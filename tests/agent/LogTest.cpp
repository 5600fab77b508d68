#include "agent/Log.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace fennimar;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct LineCase {
    Log::Level level;
    const char *message;
    QByteArray expected;
};

TEST(LogLine, LayoutIsExactByteForByte)
{
    const QTime at(14, 3, 7);
    const std::vector<LineCase> cases = {
        {Log::Level::Warn, "heartbeat failed · timed out",
         "[fennimar 14:03:07 WARN ] heartbeat failed \xC2\xB7 timed out\n"},
        {Log::Level::Error, "x", "[fennimar 14:03:07 ERROR] x\n"},
        {Log::Level::Info, "", "[fennimar 14:03:07 INFO ] \n"},
        {Log::Level::Info, "two\nlines", "[fennimar 14:03:07 INFO ] two\\nlines\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Log::formatLine(c.level, at, QString::fromUtf8(c.message)), c.expected) << c.message;
    EXPECT_EQ(Log::formatLine(Log::Level::Info, QTime(9, 5, 7), {}).left(19), QByteArray("[fennimar 09:05:07 "));
}

TEST(LogFile, CreatesTheFileAndDirectoryPrivatelyAndAppendsAfterEarlierRuns)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state/Fennimar/Fennimar.log"));
    {
        LogFileWriter writer(path);
        writer.append("first\n");
    }
    {
        LogFileWriter writer(path);
        writer.append("second\n");
        writer.drain();
        EXPECT_TRUE(writer.opened());
    }
    EXPECT_EQ(readAll(path), QByteArray("first\nsecond\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LogFile, AnUnopenableFileDropsLinesWithoutRetrying)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // A regular file where the directory should be: the log file can never be opened.
    LogFileWriter writer(dir.filePath(QStringLiteral("blocker/Fennimar.log")));
    writer.append("lost\n");
    writer.drain();
    EXPECT_FALSE(writer.opened());
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("blocker"))));
    writer.append("also lost\n");
    writer.drain();
    EXPECT_FALSE(writer.opened()) << "opened once per process, never retried";
}

TEST(LogFile, LinesFromManyThreadsArriveWholeAndInEachThreadsOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Fennimar.log"));
    constexpr int threads = 8, perThread = 500;
    {
        LogFileWriter writer(path);
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back([&writer, t] {
                for (int i = 0; i < perThread; ++i)
                    writer.append(QByteArray("thread ") + QByteArray::number(t) + " line " + QByteArray::number(i) +
                                  QByteArray(100, 'x') + '\n');
            });
        }
        for (auto &th : pool)
            th.join();
    }
    const QList<QByteArray> lines = readAll(path).split('\n');
    ASSERT_EQ(lines.size(), threads * perThread + 1);
    std::vector<int> next(threads, 0);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QList<QByteArray> words = lines[i].split(' ');
        ASSERT_EQ(words.size(), 4) << lines[i].constData();
        const int t = words[1].toInt();
        ASSERT_TRUE(words[3].startsWith(QByteArray::number(next[static_cast<size_t>(t)]) + "x"));
        ++next[static_cast<size_t>(t)];
    }
}

}  // namespace
