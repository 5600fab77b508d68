#include "platform/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fennimar;

namespace {

TEST(WriteFileAtomically, ReplacesWholeOrNamesTheFailedStepAndLeavesNoTemporaryFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    for (auto mode : {Durability::Synced, Durability::AtomicOnly}) {
        ASSERT_TRUE(writeFileAtomically(path, "old", mode));
        ASSERT_TRUE(writeFileAtomically(path, "new", mode));
        EXPECT_EQ(readSmallFile(path, 10).bytes, QByteArray("new"));
        EXPECT_EQ(QFile::permissions(path) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                  QFileDevice::Permissions());
    }
    const Status missingDir = writeFileAtomically(dir.filePath(QStringLiteral("nope/x.json")), "x");
    ASSERT_FALSE(missingDir);
    EXPECT_TRUE(missingDir.error().startsWith(QStringLiteral("could not create a temporary file")));
    QDir(dir.path()).mkdir(QStringLiteral("target"));  // the rename fails
    EXPECT_FALSE(writeFileAtomically(dir.filePath(QStringLiteral("target")), "x"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("state.json")});
}

TEST(ReadSmallFile, RefusesLargeFilesAndTellsMissingFromUnreadable)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f"));
    EXPECT_TRUE(readSmallFile(path, 10).notFound);
    ASSERT_TRUE(writeFileAtomically(path, QByteArray(11, 'x')));
    const FileRead big = readSmallFile(path, 10);
    EXPECT_FALSE(big.notFound || big.error.isEmpty());
    EXPECT_TRUE(big.bytes.isEmpty()) << "a file over the limit is not read";
    EXPECT_EQ(readSmallFile(path, 11).bytes, QByteArray(11, 'x'));
}

TEST(KeepAside, NamesTheCopyAfterWhenAndNeverOverwritesAnEarlierOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ledger.json"));
    const QDateTime when(QDate(2026, 3, 14), QTime(9, 30, 5));
    ASSERT_TRUE(writeFileAtomically(path, "one"));
    EXPECT_EQ(keepAside(path, when).value(), dir.filePath(QStringLiteral("ledger-unreadable-20260314-093005.json")));
    ASSERT_TRUE(writeFileAtomically(path, "two"));
    EXPECT_EQ(keepAside(path, when).value(), dir.filePath(QStringLiteral("ledger-unreadable-20260314-093005-1.json")));
    EXPECT_FALSE(QFile::exists(path));
}

}  // namespace
