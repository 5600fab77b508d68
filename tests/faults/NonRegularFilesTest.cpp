// Each loader of a file the agent keeps, against something that is not a regular file in its place
// (a FIFO, a directory, a device, a symbolic link): it returns at once, says so in one line, keeps
// the thing for a person to see, and the agent goes on with its own file.
#include "agent/AgentConfig.h"
#include "agent/Log.h"
#include "inventory/SeenAppsReporter.h"
#include "measure/DayLedger.h"
#include "platform/DurableFile.h"
#include "platform/VirtualClock.h"
#include "tests/fakes/Fakes.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NonRegularFiles.h"
#include "tests/support/TempHome.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fennimar;
using namespace fennimar::test;

namespace {

// Runs load() against every special file at path; check() then looks at what the loader logged.
template <typename Load, typename Check>
void forEachSpecialFile(const QString &path, Load load, Check check)
{
    for (const SpecialFile &c : specialFiles) {
        SCOPED_TRACE(c.name);
        QDir(QFileInfo(path).path()).removeRecursively();
        QDir().mkpath(QFileInfo(path).path());
        const mode_t type = c.make(QFile::encodeName(path));
        if (type == 0) {
            std::printf("SKIPPED row %s: not allowed here\n", c.name);
            continue;
        }
        LogCapture log;
        QElapsedTimer took;
        took.start();
        {
            FifoUnblocker unblocker(QFile::encodeName(path));
            load();
        }
        EXPECT_LT(took.elapsed(), 1000) << "a loader waited on what stands at its path";
        const QString said = log.lines().join(QLatin1Char('\n'));
        EXPECT_TRUE(said.contains(QLatin1String(c.said))) << said.toStdString();
        EXPECT_EQ(entriesOfType(QFileInfo(path).path(), type), 1) << "the special file is kept";
        check();
        if (QFileInfo::exists(path + QStringLiteral(".target"))) {
            EXPECT_EQ(readSmallFile(path + QStringLiteral(".target"), 10).bytes, QByteArray("keep"));
        }
    }
}

TEST(NonRegularFiles, DayLedgerStartsEmptyAndSavesItsOwnFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("support/ledger.json"));
    VirtualClock clock;
    std::unique_ptr<DayLedger> ledger;
    forEachSpecialFile(
        path, [&] { ledger = std::make_unique<DayLedger>(path, clock); },
        [&] {
            EXPECT_TRUE(ledger->save());
            EXPECT_TRUE(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink());
        });
}

TEST(NonRegularFiles, SeenAppsReporterStartsEmpty)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("support/reported-apps.json"));
    VirtualClock clock;
    FakeAppCatalog catalog;
    PairedIdentity identity{QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("Kim"), QStringLiteral("t"), {}};
    std::unique_ptr<SeenAppsReporter> reporter;
    forEachSpecialFile(
        path,
        [&] {
            reporter = std::make_unique<SeenAppsReporter>(
                BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock), identity, catalog, clock,
                path);
        },
        [&] { EXPECT_EQ(reporter->totalReported(), 0); });
}

TEST(NonRegularFiles, SettingsStoreIsLeftAloneAndTheBuiltInsHold)
{
    TempHome home;
    const QString path = home.file(QStringLiteral("config/Fennimar/Fennimar.conf"));
    std::optional<QString> read = QString();
    forEachSpecialFile(
        path, [&] { read = AgentConfig::setting(QStringLiteral("backendURL")); },
        [&] { EXPECT_EQ(read, std::nullopt); });
}

TEST(NonRegularFiles, LogFileIsNotWrittenThroughAndStandardErrorSaysWhy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("logs/Fennimar.log"));
    bool opened = true;
    forEachSpecialFile(
        path,
        [&] {
            LogFileWriter writer(path);
            writer.append("[fennimar 12:00:00 INFO ] line\n");
            writer.drain();
            opened = writer.opened();
        },
        [&] { EXPECT_FALSE(opened); });
}

}  // namespace
