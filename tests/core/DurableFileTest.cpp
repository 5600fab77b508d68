#include "core/DurableFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fennimar;

TEST(DurableFile, ReplacesWholeOrFailsLeavingNoTemporaryFileAndKeepsAsideUnderFreshNames)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ledger.json"));
    for (auto mode : {Durability::Synced, Durability::AtomicOnly}) {
        ASSERT_TRUE(writeFileAtomically(path, "old", mode));
        ASSERT_TRUE(writeFileAtomically(path, "new", mode));
        EXPECT_EQ(readSmallFile(path, 10).bytes, QByteArray("new"));
        EXPECT_EQ(QFile::permissions(path) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
    }
    EXPECT_TRUE(readSmallFile(path, 2).bytes.isEmpty()) << "a file over the limit is not read";
    QDir(dir.path()).mkdir(QStringLiteral("target"));  // the rename fails
    EXPECT_FALSE(writeFileAtomically(dir.filePath(QStringLiteral("target")), "x"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("ledger.json")});
    const QDateTime when(QDate(2026, 3, 14), QTime(9, 30, 5));
    EXPECT_EQ(keepAside(path, when).value(), dir.filePath(QStringLiteral("ledger-unreadable-20260314-093005.json")));
    ASSERT_TRUE(writeFileAtomically(path, "two"));
    EXPECT_EQ(keepAside(path, when).value(), dir.filePath(QStringLiteral("ledger-unreadable-20260314-093005-1.json")));
    EXPECT_FALSE(QFile::exists(path));
}
