// Prints what the Linux desktop layer costs: the X11 facts of one sampler tick (frontmost app, idle
// time, lock state) against a real Xvfb + openbox with an xterm in front, and the scan of 400
// generated desktop entries. Goals: a tick's X11 facts median <= 80 us and p99 <= 300 us.
#include "bench/BenchStats.h"
#include "core/RealClock.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/x11/X11Desktop.h"
#include "tests/support/DesktopSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace fennimar;

namespace {

struct Figures {
    double median, p99, max;
};

Figures summarize(std::vector<double> micros)
{
    const bench::Samples samples(std::move(micros));
    return {samples.at(0.5), samples.at(0.99), samples.max()};
}

void benchTick(const QString &dataDir)
{
    test::DesktopSession x;
    if (const QString why = x.start(); !why.isEmpty() || !test::missingTools({QStringLiteral("xterm")}).isEmpty()) {
        std::printf("x11 tick: skipped (%s)\n", why.isEmpty() ? "missing xterm" : qPrintable(why));
        return;
    }
    x.openTerminal({QStringLiteral("-name"), QStringLiteral("benchterm")});
    RealClock clock;
    DesktopEntryCatalog catalog({{dataDir, QStringLiteral("/usr/share")}, {}, {}});
    X11Desktop desktop(clock, catalog, nullptr, x.display());
    if (!test::waitUntil([&] { return desktop.frontmostApp().has_value(); }, 10000)) {
        std::printf("x11 tick: no frontmost window appeared\n");
        return;
    }
    std::vector<double> ticks, idle;
    constexpr int kTicks = 20000;
    ticks.reserve(kTicks);
    idle.reserve(kTicks);
    QElapsedTimer timer;
    for (int i = 0; i < kTicks; ++i) {
        timer.start();
        const auto app = desktop.frontmostApp();
        const qint64 afterApp = timer.nsecsElapsed();
        const std::optional<double> seconds = desktop.secondsSinceInput();
        const bool locked = desktop.screenLocked();
        const qint64 total = timer.nsecsElapsed();
        ticks.push_back(static_cast<double>(total) / 1000.0);
        idle.push_back(static_cast<double>(total - afterApp) / 1000.0);
        if (!app || !seconds || *seconds < 0 || locked)
            std::printf("unexpected answer at tick %d\n", i);
    }
    const Figures t = summarize(ticks), s = summarize(idle);
    std::printf("x11 tick (frontmost + idle + lock), %d ticks: median %.1f us, p99 %.1f us, max %.1f us\n", kTicks,
                t.median, t.p99, t.max);
    std::printf("  of which idle query: median %.1f us, p99 %.1f us\n", s.median, s.p99);
}

void benchScan()
{
    QTemporaryDir dir;
    const QString apps = dir.filePath(QStringLiteral("applications"));
    QDir().mkpath(apps + QStringLiteral("/vendor"));
    QByteArray translations;
    for (const char *lang : {"de", "fr", "es", "it", "pt_BR", "ru", "ja", "zh_CN", "nl", "pl", "sv", "cs"})
        translations +=
            QByteArray("Name[") + lang + "]=Localized name\nComment[" + lang + "]=A localized comment line\n";
    for (int i = 0; i < 400; ++i) {
        QFile file(apps + (i % 4 ? QStringLiteral("/app%1.desktop") : QStringLiteral("/vendor/app%1.desktop")).arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write("[Desktop Entry]\nType=Application\nName=Application " + QByteArray::number(i) + "\nExec=app" +
                   QByteArray::number(i) + " %U\nCategories=Utility;Game;\nStartupWMClass=App" + QByteArray::number(i) +
                   "\n" + translations + "\n[Desktop Action new]\nName=New window\nExec=x\n");
    }
    std::vector<double> full, cached;
    size_t count = 0;
    for (int round = 0; round < 30; ++round) {
        DesktopEntryCatalog catalog({{dir.path()}, {}, EntryLocale::fromPosix(QStringLiteral("de_DE.UTF-8"))});
        QElapsedTimer timer;
        timer.start();
        count = catalog.installedApps().size();
        full.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
        timer.start();
        catalog.installedApps();
        cached.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
    }
    const Figures f = summarize(full), c = summarize(cached);
    std::printf("installed-apps scan of %zu entries: median %.2f ms, max %.2f ms; unchanged folders: median %.1f us\n",
                count, f.median / 1000.0, f.max / 1000.0, c.median);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir data;
    QDir().mkpath(data.filePath(QStringLiteral("applications")));
    benchTick(data.path());
    benchScan();
    return 0;
}
