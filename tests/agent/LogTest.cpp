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

// The layout byte for byte; text from outside (a backend's error body) cannot forge a line, since
// control characters are written escaped.
TEST(LogLine, LayoutIsExactAndControlCharactersAreEscaped)
{
    const struct {
        Log::Level level;
        QTime at;
        QString message;
        QByteArray expected;
    } cases[] = {
        {Log::Level::Warn, QTime(14, 3, 7), QStringLiteral("heartbeat failed · timed out"),
         "[fennimar 14:03:07 WARN ] heartbeat failed \xC2\xB7 timed out\n"},
        {Log::Level::Error, QTime(9, 5, 7), QStringLiteral("x"), "[fennimar 09:05:07 ERROR] x\n"},
        {Log::Level::Info, QTime(0, 0, 0), QString(), "[fennimar 00:00:00 INFO ] \n"},
        {Log::Level::Warn, QTime(9, 5, 7), QStringLiteral("x\n[fennimar 09:00:00 INFO ] PAIRED"),
         "[fennimar 09:05:07 WARN ] x\\n[fennimar 09:00:00 INFO ] PAIRED\n"},
        {Log::Level::Warn, QTime(9, 5, 7), QStringLiteral("a\rb\tc"), "[fennimar 09:05:07 WARN ] a\\rb\\tc\n"},
        {Log::Level::Warn, QTime(9, 5, 7), QString::fromUtf8("bell\x07 esc\x1b del\x7f nel\xc2\x85"),
         "[fennimar 09:05:07 WARN ] bell\\x07 esc\\x1b del\\x7f nel\\x85\n"},
        {Log::Level::Warn, QTime(9, 5, 7), QStringLiteral("Ünïcode — kept"),
         "[fennimar 09:05:07 WARN ] Ünïcode — kept\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        EXPECT_EQ(Log::formatLine(c.level, c.at, c.message), c.expected);
    }
}

TEST(LogFile, CreatedPrivatelyAppendedAcrossRunsAndNeverRetriedOnceUnopenable)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state/Fennimar/Fennimar.log"));
    for (const char *line : {"first\n", "second\n"}) {
        LogFileWriter writer(path);
        writer.append(line);
    }
    EXPECT_EQ(readAll(path), QByteArray("first\nsecond\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A regular file where the directory should be: the log file cannot be opened, and is not
    // tried again once the way is clear.
    ASSERT_TRUE(QFile(dir.filePath(QStringLiteral("blocker"))).open(QIODevice::WriteOnly));
    LogFileWriter writer(dir.filePath(QStringLiteral("blocker/Fennimar.log")));
    writer.append("lost\n");
    writer.drain();
    EXPECT_FALSE(writer.opened());
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("blocker"))));
    writer.append("also lost\n");
    writer.drain();
    EXPECT_FALSE(writer.opened());
}

TEST(LogFile, LinesFromManyThreadsArriveWholeAndInEachThreadsOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Fennimar.log"));
    {
        LogFileWriter writer(path);
        std::vector<std::jthread> pool;
        for (int t = 0; t < 8; ++t)
            pool.emplace_back([&writer, t] {
                for (int i = 0; i < 500; ++i)
                    writer.append(QByteArray::number(t) + " " + QByteArray::number(i) + QByteArray(100, 'x') + '\n');
            });
    }
    std::vector<int> next(8, 0);
    const QList<QByteArray> lines = readAll(path).split('\n');
    ASSERT_EQ(lines.size(), 8 * 500 + 1);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QList<QByteArray> words = lines[i].split(' ');
        ASSERT_EQ(words.size(), 2) << lines[i].constData();
        int &expected = next[static_cast<size_t>(words[0].toInt())];
        ASSERT_EQ(words[1], QByteArray::number(expected++) + QByteArray(100, 'x'));
    }
}

}  // namespace
