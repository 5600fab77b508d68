// "/proc/PID/root/.flatpak-info" belongs to whatever process is in front, which can put anything
// there: it is read only for a Flatpak scope that does not name its id, and never blocks.
#include "platform/linux/AppResolver.h"
#include "tests/support/NonRegularFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

TEST(FlatpakInfo, ReadOnlyForAFlatpakScopeAndOnlyWhenItIsAFile)
{
    QTemporaryDir proc;
    const QString root = proc.filePath(QStringLiteral("42/root"));
    const QString info = root + QStringLiteral("/.flatpak-info");
    auto read = [&](const char *cgroup) {
        QFile file(proc.filePath(QStringLiteral("42/cgroup")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(cgroup);
        file.close();
        WindowFacts facts;
        facts.pid = 42;
        facts.readProcess(proc.path());
        return facts.flatpakId;
    };
    QDir().mkpath(root);
    QFile file(info);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Application]\nname=org.example.Claimed\n");
    file.close();
    EXPECT_EQ(read("0::/user.slice/app.slice/app-xterm-1.scope\n"), QString()) << "not a Flatpak app";
    EXPECT_EQ(read("0::/user.slice/flatpak-org.example.Claimed-77.scope\n"), QStringLiteral("org.example.Claimed"));

    for (const SpecialFile &c : specialFiles) {
        SCOPED_TRACE(c.name);
        QDir(root).removeRecursively();
        QDir().mkpath(root);
        if (c.make(QFile::encodeName(info)) == 0)
            continue;
        QElapsedTimer took;
        took.start();
        FifoUnblocker unblocker(QFile::encodeName(info));
        EXPECT_EQ(read("0::/user.slice/flatpak-org.example.Claimed-77.scope\n"), QString());
        EXPECT_LT(took.elapsed(), 1000);
    }
}

}  // namespace
}  // namespace fennimar::test
