// A full tmpfs (needs CAP_SYS_ADMIN): one ERROR per save, the last ledger kept, no temp files, all saved later.
#include "tests/agent/AgentTestSupport.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

using namespace fennimar;
using namespace fennimar::test;
using namespace std::chrono_literals;

namespace {

class SmallDisk : public AgentFixture {
protected:
    bool mounted = false;
    void SetUp() override
    {
        QDir().mkpath(supportDir());
        if (::mount("tmpfs", QFile::encodeName(supportDir()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    "size=256k,mode=0700") != 0)
            GTEST_SKIP() << "SKIPPED: a tmpfs of the test's own needs CAP_SYS_ADMIN: " << std::strerror(errno);
        mounted = true;
    }
    ~SmallDisk() override
    {
        agent.reset();  // its last flush fails or succeeds on the tmpfs, before it goes
        if (mounted)
            ::umount2(QFile::encodeName(supportDir()).constData(), MNT_DETACH);
    }

    QByteArray ledgerOnDisk() const
    {
        QFile file(supportDir() + QStringLiteral("/ledger.json"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    qint64 onDisk() const
    {
        const auto days = DayLedger::decode(ledgerOnDisk());
        return days && days.value().size() == 1 ? days.value().begin()->second.total() : -1;
    }
};

TEST_F(SmallDisk, CountingGoesOnInMemoryAndEverythingIsSavedOnceTheDiskTakesWritesAgain)
{
    storedIdentity();
    desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}};
    makeAgent();
    agent->start();
    advance(2min, 1s);
    ASSERT_GE(onDisk(), 60) << "the first minutes reach the disk";
    const QByteArray before = ledgerOnDisk();
    const qint64 countedBefore = agent->ledger().today(clock.now()).total();
    const QString filler = supportDir() + QStringLiteral("/filler");
    {
        QFile file(filler);  // fills the tmpfs to the last page
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        while (file.write(QByteArray(4096, 'x')) == 4096 && file.flush()) {
        }
    }

    LogCapture log;
    advance(5min, 1s);
    // A save is tried every minute and after each accepted report (one in five minutes).
    const QStringList failures = log.lines()
                                     .filter(QStringLiteral("ERROR] ledger save failed · "))
                                     .filter(QStringLiteral("No space left on device"));
    EXPECT_GE(failures.size(), 5);
    EXPECT_LE(failures.size(), 6) << "one line per attempt, not one per second";
    const qint64 counted = agent->ledger().today(clock.now()).total();
    EXPECT_EQ(counted, countedBefore + 300) << "every second of the outage is counted in memory";
    EXPECT_EQ(ledgerOnDisk(), before) << "the saved ledger is left as it was";
    EXPECT_EQ(QDir(supportDir()).entryList({QStringLiteral("*.tmp-*")}, QDir::Files | QDir::Hidden), QStringList());
    QFile::remove(filler);
    advance(1min, 1s);
    EXPECT_GE(onDisk(), counted) << "the next save writes everything counted";
    EXPECT_EQ(log.lines().filter(QStringLiteral("ERROR]")).size(), failures.size()) << "and no more failures";
}

}  // namespace
