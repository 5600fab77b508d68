#include "platform/LockFileInstance.h"
#include "tests/linux/LinuxTestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

namespace fennimar::test {
namespace {

struct Helper {
    QProcess process;
    QString line;
    qint64 childPid = 0;

    Helper(const QString &dir, bool withChild)
    {
        process.start(QStringLiteral(LOCK_HELPER),
                      withChild ? QStringList{dir, QStringLiteral("child")} : QStringList{dir});
        process.waitForStarted(3000);
        waitUntil([&] {
            while (process.canReadLine()) {
                const QString read = QString::fromUtf8(process.readLine()).trimmed();
                if (read.startsWith(QLatin1String("child ")))
                    childPid = read.mid(6).toLongLong();
                else
                    line = read;
            }
            return !line.isEmpty() || process.state() == QProcess::NotRunning;
        });
    }
    ~Helper()
    {
        if (childPid > 0)
            ::kill(static_cast<pid_t>(childPid), SIGKILL);
        process.kill();
        process.waitForFinished(3000);
    }
};

TEST(LockFileInstanceTest, LockOfAKilledCopyIsTakenOverEvenWhileItsChildLives)
{
    QTemporaryDir dir;
    {
        // The first copy starts a child and dies by SIGKILL; the child must not keep the claim.
        Helper first(dir.path(), true);
        ASSERT_EQ(first.line, QStringLiteral("claimed"));
        ASSERT_GT(first.childPid, 0);
        first.process.kill();
        first.process.waitForFinished(3000);
        LockFileInstance next(dir.path());
        EXPECT_TRUE(next.claim());
        EXPECT_TRUE(next.claim()) << "a second claim by the holder still holds";
        // The claim now belongs to this process: a further copy is refused.
        Helper third(dir.path(), false);
        EXPECT_EQ(third.line, QStringLiteral("refused"));
    }
}

}  // namespace
}  // namespace fennimar::test
