// Prints what one opening of the tray menu costs: the entries for a full paired menu, and the whole
// rebuild of the Qt menu from them (offscreen). Figures only; nothing here passes or fails.
#include "bench/BenchStats.h"
#include "menubar/TrayMenu.h"
#include "core/VirtualClock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace fennimar;

namespace {

// Median and 99th percentile of `rounds` timings of `batch` calls each, in µs per call.
void report(const char *what, int rounds, int batch, const std::function<void()> &call)
{
    const bench::Samples perCall = bench::timePerCall(rounds, batch, call);
    std::printf("%-44s median %8.2f us   p99 %8.2f us\n", what, perCall.at(0.5) / 1000.0, perCall.at(0.99) / 1000.0);
}

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDateTime now(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc());
    MenuReadings r;
    r.now = now;
    r.state = AgentStates::Paired{PairedIdentity{"dev-1", "child-1", "Mia", "token", now}};
    r.todaySeconds = 3900;
    r.verdict = MenuVerdict::counting("org.gnome.TextEditor");
    r.appName = [](const QString &) -> std::optional<QString> { return QStringLiteral("Text Editor"); };
    r.monitored = MonitoredReading{12, 5, std::nullopt};
    r.lastBeat = now.addSecs(-10);
    r.computerName = "kitchen-pc";
    r.userName = "mia";

    report("menu entries, paired (MenuBarController::menu)", 200, 1000,
           [&] { (void)MenuBarController::menu(r).size(); });

    VirtualClock clock(now);
    TrayMenu tray(
        clock, [&] { return r; }, MenuActions{});
    report("rebuild of the Qt menu on opening", 100, 20, [&] { Q_EMIT tray.menu()->aboutToShow(); });
    report("icon refresh", 100, 100, [&] { tray.refreshIcon(); });
    return 0;
}
