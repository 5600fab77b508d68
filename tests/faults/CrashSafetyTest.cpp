// SIGKILLed at random while saving (FENNIMAR_CRASH_ROUNDS, 10), the child leaves a whole ledger up to its save.
#include "core/Log.h"
#include "measure/DayLedger.h"
#include "core/DurableFile.h"
#include "core/VirtualClock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>

using namespace fennimar;

namespace {

constexpr const char *dirVariable = "FENNIMAR_CRASH_DIR";
constexpr qint64 saveEvery = 60;  // counted seconds between saves, as the agent's minute save

// The child: one second a tick on virtual time, a save every counted minute, printed. Runs until killed.
TEST(CrashChild, DISABLED_CountsAndSavesUntilKilled)
{
    const QString dir = qEnvironmentVariable(dirVariable);
    if (dir.isEmpty())
        GTEST_SKIP() << "run by CrashSafety only";
    VirtualClock clock(QDateTime(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc()));
    DayLedger ledger(dir + QStringLiteral("/ledger.json"), clock);
    // Continue where the last run's file stopped: the clock moves on past what it holds.
    clock.jumpWallClock(std::chrono::seconds(ledger.today(clock.now()).total()));
    for (qint64 tick = 1;; ++tick) {
        clock.advance(std::chrono::seconds(1));
        ledger.add(1, clock.now());
        if (tick % saveEvery != 0)
            continue;
        ASSERT_TRUE(ledger.save());
        std::printf("saved %lld\n", static_cast<long long>(ledger.today(clock.now()).total()));
        std::fflush(stdout);
    }
}

TEST(CrashSafety, KilledAtRandomMomentsTheFilesStayWholeAndLoseAtMostAMinute)
{
    // Writer thread first: TSan loses the main thread's locks after QProcess's fork, and reports a late one.
    Log::drain();
    const QTemporaryDir tmp;
    const QString dir = tmp.path();
    const int rounds =
        qEnvironmentVariableIsSet("FENNIMAR_CRASH_ROUNDS") ? qEnvironmentVariableIntValue("FENNIMAR_CRASH_ROUNDS") : 10;
    QRandomGenerator random(QRandomGenerator::global()->generate());
    qint64 seconds = 0;  // acknowledged by the child, then found in the file
    for (int round = 0; round < rounds; ++round) {
        QProcess child;
        // Given to the child alone, not left behind in this process.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(dirVariable), dir);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=CrashChild.*"), QStringLiteral("--gtest_also_run_disabled_tests")});
        ASSERT_TRUE(child.waitForStarted(10000));
        // A random number of saves, then a random moment: the kill lands between saves, in a write, at rename.
        const int saves = static_cast<int>(random.bounded(1, 6));
        QByteArray output;
        const QDeadlineTimer deadline(20000);
        while (output.count("saved ") < saves && !deadline.hasExpired() && child.state() == QProcess::Running) {
            child.waitForReadyRead(100);
            output += child.readAllStandardOutput();
        }
        ASSERT_GE(output.count("saved "), saves) << "the child stopped saving: " << child.readAllStandardError().data();
        QThread::usleep(random.bounded(0u, 20000u));
        child.kill();
        ASSERT_TRUE(child.waitForFinished(10000));
        output += child.readAllStandardOutput();
        const qint64 before = seconds;
        for (const QByteArray &line : output.split('\n'))  // the last complete "saved" line
            if (line.startsWith("saved "))
                seconds = line.mid(6).toLongLong();
        ASSERT_GT(seconds, before) << "round " << round;
        const auto days = DayLedger::decode(readSmallFile(dir + QStringLiteral("/ledger.json"), 1 << 20).bytes);
        ASSERT_TRUE(days) << "round " << round << ": " << days.error().toStdString();
        ASSERT_EQ(days.value().size(), 1u) << "round " << round;  // hours of counting from 09:00: one day
        // Everything acknowledged is there; at most the save in flight at the kill went further.
        const qint64 saved = days.value().begin()->second.total();
        EXPECT_GE(saved, seconds) << "round " << round;
        EXPECT_LE(saved, seconds + saveEvery) << "round " << round;
        seconds = saved;
    }
    // A kill inside a write may leave its temporary file, but never more than one (beside the known totals).
    const QStringList left = QDir(dir).entryList(QDir::Files);
    EXPECT_LE(left.size(), 3) << left.join(QLatin1Char(' ')).toStdString();
}

TEST(CrashSafety, TheNextSaveRemovesWhatAnInterruptedSaveOfTheSameFileLeft)
{
    const QTemporaryDir tmp;
    const QString dir = tmp.path();
    const QStringList kept{QStringLiteral("ledger-unreadable-20260314-090000.json"), QStringLiteral("ledger.json"),
                           QStringLiteral("ledger.json.tmp-longer12"), QStringLiteral("reported-apps.json.tmp-AbC123")};
    for (const QString &name :
         kept + QStringList{QStringLiteral("ledger.json.tmp-AbC123"), QStringLiteral("ledger.json.tmp-x9Y8z7")})
        ASSERT_TRUE(QFile(dir + QLatin1Char('/') + name).open(QIODevice::WriteOnly));
    ASSERT_TRUE(writeFileAtomically(dir + QStringLiteral("/ledger.json"), "{}"));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files, QDir::Name), kept);
}

}  // namespace
