#include "core/DurableFile.h"
#include "core/Log.h"
#include "core/LogFileWriter.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace fennimar;

namespace {

// The layout byte for byte; control characters from outside are escaped, so they cannot forge a line.
TEST(LogLine, LayoutIsExactAndControlCharactersAreEscaped)
{
    const struct {
        Log::Level level;
        QString message;
        QByteArray expected;
    } cases[] = {
        {Log::Level::Warn, QStringLiteral("heartbeat failed · timed out"),
         "[fennimar 09:05:07 WARN ] heartbeat failed \xC2\xB7 timed out\n"},
        {Log::Level::Error, QStringLiteral("x"), "[fennimar 09:05:07 ERROR] x\n"},
        {Log::Level::Info, QStringLiteral("x\n[fennimar 09:00:00 INFO ] PAIRED\r\t"),
         "[fennimar 09:05:07 INFO ] x\\n[fennimar 09:00:00 INFO ] PAIRED\\r\\t\n"},
        {Log::Level::Warn, QString::fromUtf8("bell\x07 del\x7f nel\xc2\x85 Ü"),
         "[fennimar 09:05:07 WARN ] bell\\x07 del\\x7f nel\\x85 \xC3\x9C\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Log::formatLine(c.level, QTime(9, 5, 7), c.message), c.expected) << c.expected.toStdString();
}

// The log is private, but only its own folder is tightened (macOS' ~/Library/Logs is shared by all apps).
TEST(LogFile, TightensItsOwnFolderAndFileOnly)
{
    const struct {
        const char *path;  // below a temporary folder; the file was left 0644, its folder 0755
        mode_t folderAfter;
    } cases[] = {{"Fennimar/Fennimar.log", 0700}, {"Logs/Fennimar.log", 0755}, {"NotFennimar/Fennimar.log", 0755}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        const QTemporaryDir root;
        const QString path = root.filePath(QString::fromLatin1(c.path));
        const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
        QDir().mkpath(QString::fromLocal8Bit(folder));
        QFile(path).open(QIODevice::WriteOnly);
        ASSERT_TRUE(::chmod(folder.constData(), 0755) == 0 && ::chmod(QFile::encodeName(path).constData(), 0644) == 0);
        {
            LogFileWriter writer(path);
            writer.append("line\n");
            writer.drain();
            ASSERT_TRUE(writer.opened());
        }
        struct stat st {};
        EXPECT_EQ(::stat(folder.constData(), &st) == 0 ? st.st_mode & 0777 : 0, c.folderAfter);
        EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0, 0600u);
    }
}

// Two files of a bound at most, every line kept in order across them, the newest in the file itself.
TEST(LogFile, RotatesAtItsBoundIntoOneOlderFileLosingNoLine)
{
    const QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("Fennimar/Fennimar.log"));
    QDir().mkpath(root.filePath(QStringLiteral("Fennimar")));
    ASSERT_TRUE(writeFileAtomically(path, QByteArray(1500, 'x')));  // an older version's log, over the bound
    QByteArray all;
    {
        LogFileWriter writer(path, 1000);
        for (int i = 0; i < 70; ++i) {
            const QByteArray line = Log::formatLine(i == 69 ? Log::Level::Error : Log::Level::Info, QTime(9, 0),
                                                    QStringLiteral("line %1").arg(i, 2));
            all += line;
            writer.append(line);
        }
        writer.drain();
    }
    const QByteArray current = readSmallFile(path, 1 << 20).bytes,
                     older = readSmallFile(path + QStringLiteral(".1"), 1 << 20).bytes;
    EXPECT_LE(current.size(), 1000);
    EXPECT_LE(older.size(), 1000);
    EXPECT_TRUE(all.endsWith(older + current));
    EXPECT_TRUE(current.endsWith("ERROR] line 69\n"));
}

}  // namespace
