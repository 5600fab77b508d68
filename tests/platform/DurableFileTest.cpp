#include "platform/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fennimar;

namespace {

TEST(WriteFileAtomically, ReplacesWholeInBothModesAndLeavesNoTemporaryFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    for (auto mode : {Durability::Synced, Durability::AtomicOnly}) {
        ASSERT_TRUE(writeFileAtomically(path, "old", mode));
        ASSERT_TRUE(writeFileAtomically(path, "new", mode));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), QByteArray("new"));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("state.json")});
        EXPECT_EQ(f.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
    }
}

TEST(WriteFileAtomically, AFailureNamesTheStepAndLeavesTheOldFile)
{
    QTemporaryDir dir;
    const Status missingDir = writeFileAtomically(dir.filePath(QStringLiteral("nope/x.json")), "x");
    EXPECT_FALSE(missingDir);
    EXPECT_TRUE(missingDir.error().startsWith(QStringLiteral("could not create a temporary file")));

    // The target is a directory: the rename fails and the temporary file is removed.
    QDir(dir.path()).mkdir(QStringLiteral("target"));
    const Status overDir = writeFileAtomically(dir.filePath(QStringLiteral("target")), "x");
    EXPECT_FALSE(overDir);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

TEST(ReadSmallFile, RefusesLargeFilesAndTellsMissingFromUnreadable)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f"));
    EXPECT_TRUE(readSmallFile(path, 10).notFound);
    ASSERT_TRUE(writeFileAtomically(path, QByteArray(11, 'x')));
    const FileRead big = readSmallFile(path, 10);
    EXPECT_FALSE(big.notFound);
    EXPECT_FALSE(big.error.isEmpty());
    EXPECT_TRUE(big.bytes.isEmpty()) << "a file over the limit is not read";
    EXPECT_EQ(readSmallFile(path, 11).bytes, QByteArray(11, 'x'));
}

TEST(KeepAside, NamesTheCopyAfterWhenAndNeverOverwritesAnEarlierOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ledger.json"));
    const QDateTime when(QDate(2026, 3, 14), QTime(9, 30, 5));
    ASSERT_TRUE(writeFileAtomically(path, "one"));
    const auto first = keepAside(path, when);
    ASSERT_TRUE(first);
    EXPECT_EQ(first.value(), dir.filePath(QStringLiteral("ledger-unreadable-20260314-093005.json")));
    ASSERT_TRUE(writeFileAtomically(path, "two"));
    const auto second = keepAside(path, when);
    ASSERT_TRUE(second);
    EXPECT_NE(second.value(), first.value());
    EXPECT_FALSE(QFile::exists(path));
}

}  // namespace
