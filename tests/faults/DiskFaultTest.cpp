// The support directory on a small tmpfs of its own, which fills up and later turns read-only: the
// agent goes on counting in memory, logs one ERROR line per save attempt (not one per tick), leaves
// the ledger it saved last untouched and without stray temporary files, and saves everything as
// soon as the disk takes writes again. Mounting needs CAP_SYS_ADMIN; without it the test is skipped
// and says so.
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

    SmallDisk() { desktop->front = RunningApp{QStringLiteral("xterm"), 42, QStringLiteral("XTerm"), {}}; }

    void SetUp() override
    {
        QDir().mkpath(supportDir());
        const QByteArray path = QFile::encodeName(supportDir());
        if (::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k,mode=0700") != 0)
            GTEST_SKIP() << "SKIPPED: a tmpfs of the test's own needs CAP_SYS_ADMIN: " << std::strerror(errno);
        mounted = true;
    }

    ~SmallDisk() override
    {
        agent.reset();  // its last flush fails or succeeds on the tmpfs, before it goes
        clock.runDue();
        pump(std::chrono::milliseconds(20));
        if (mounted)
            ::umount2(QFile::encodeName(supportDir()).constData(), MNT_DETACH);
    }

    // Fills the tmpfs to the last page with one file, which fillUp().remove() frees again.
    QString fillUp() const
    {
        const QString filler = supportDir() + QStringLiteral("/filler");
        QFile file(filler);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray page(4096, 'x');
        while (file.write(page) == page.size() && file.flush()) {
        }
        return filler;
    }

    bool remount(unsigned long flags) const
    {
        return ::mount(nullptr, QFile::encodeName(supportDir()).constData(), nullptr, MS_REMOUNT | flags,
                       "size=256k") == 0;
    }

    std::map<QString, DayRecord> ledgerOnDisk() const
    {
        QFile file(supportDir() + QStringLiteral("/ledger.json"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const auto days = DayLedger::decode(file.readAll());
        EXPECT_TRUE(days) << "the saved ledger must stay readable";
        return days ? days.value() : std::map<QString, DayRecord>{};
    }

    qint64 counted() const { return agent->ledger().today(clock.now()).total(); }

    QStringList temporaryFiles() const
    {
        return QDir(supportDir()).entryList({QStringLiteral("*.tmp-*")}, QDir::Files | QDir::Hidden);
    }

    static qsizetype saveFailures(const QStringList &lines, const char *cause)
    {
        qsizetype n = 0;
        for (const QString &line : lines)
            n += line.startsWith(QStringLiteral("ERROR] ledger save failed · ")) && line.contains(QLatin1String(cause));
        return n;
    }
};

TEST_F(SmallDisk, CountingGoesOnInMemoryAndEverythingIsSavedOnceTheDiskTakesWritesAgain)
{
    storedIdentity();
    makeAgent();
    agent->start();
    advance(2min, 1s);
    const std::map<QString, DayRecord> saved = ledgerOnDisk();
    ASSERT_FALSE(saved.empty()) << "the first minutes reach the disk";
    ASSERT_GE(saved.begin()->second.total(), 60);

    struct Phase {
        const char *name;
        const char *cause;
        std::function<void()> breakDisk;
        std::function<void()> mendDisk;
    };
    QString filler;
    const std::vector<Phase> phases = {
        {"full", "No space left on device", [&] { filler = fillUp(); }, [&] { QFile::remove(filler); }},
        {"read-only", "Read-only file system", [&] { ASSERT_TRUE(remount(MS_RDONLY)); },
         [&] { ASSERT_TRUE(remount(0)); }},
    };
    for (const Phase &phase : phases) {
        SCOPED_TRACE(phase.name);
        const std::map<QString, DayRecord> before = ledgerOnDisk();
        const qint64 countedBefore = counted();
        const std::size_t reportsBefore = requestsTo("/api/guard/heartbeat");
        phase.breakDisk();

        LogCapture log;
        advance(5min, 1s);
        // A save is tried every minute and after each accepted report (one in five minutes).
        const qsizetype failures = saveFailures(log.lines(), phase.cause);
        EXPECT_GE(failures, 5);
        EXPECT_LE(failures, 6) << "one line per attempt, not one per second:\n"
                               << log.lines().join(QLatin1Char('\n')).toStdString();
        const qint64 countedInOutage = counted();
        EXPECT_EQ(countedInOutage, countedBefore + 300) << "every second of the outage is counted in memory";
        EXPECT_EQ(ledgerOnDisk(), before) << "the saved ledger is left as it was";
        EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(QLatin1Char(' ')).toStdString();
        EXPECT_GT(requestsTo("/api/guard/heartbeat"), reportsBefore) << "reporting goes on";

        phase.mendDisk();
        advance(1min, 1s);
        const std::map<QString, DayRecord> after = ledgerOnDisk();
        ASSERT_EQ(after.size(), 1u);
        EXPECT_GE(after.begin()->second.total(), countedInOutage) << "the next save writes everything counted";
        EXPECT_EQ(saveFailures(log.lines(), phase.cause), failures) << "and no more failures";
    }
}

}  // namespace
