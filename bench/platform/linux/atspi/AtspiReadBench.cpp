// Cost of one browser address read through AT-SPI, against real Chromium and Firefox on a private
// desktop: D-Bus requests and milliseconds per read on a small and a large page, and the cost of a
// read while the browser is stopped (SIGSTOP). Channels: "socket" (the reader as shipped, on the
// browser's own socket), "bus" (through the bus daemon), "walk" (the bounded breadth-first walk an
// application without Collection gets). Prints a table; asserts nothing.
#include "bench/BenchStats.h"
#include "core/RealClock.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "tests/platform/linux/atspi/BrowserDesktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <csignal>
#include <vector>

using namespace std::chrono_literals;
using fennimar::AddressOutcome;
using fennimar::AtspiAccessibility;
using fennimar::test::Browser;
using fennimar::test::DesktopSession;
using fennimar::test::PageServer;

namespace {

struct Figures {
    double min = 0, median = 0, p90 = 0, requests = 0;
    int misses = 0;  // reads that gave no address (a busy browser's timeout and its back-off)
};

Figures measure(AtspiAccessibility &reader, qint64 pid, int reads)
{
    std::vector<double> ms;
    double requests = 0;
    int misses = 0;
    for (int i = 0; i < reads; ++i) {
        QElapsedTimer timer;
        timer.start();
        const AddressOutcome outcome = reader.readAddress(pid);
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        requests += reader.lastReadRequests();
        misses += outcome.kind == AddressOutcome::Kind::Url ? 0 : 1;
    }
    const fennimar::bench::Samples samples(std::move(ms));
    return {samples.min(), samples.at(0.5), samples.at(0.9), requests / reads, misses};
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int reads = argc > 1 ? std::max(10, QString::fromLocal8Bit(argv[1]).toInt()) : 200;
    PageServer pages;
    std::printf("%-9s %-6s %-7s %9s %8s %10s %8s %7s\n", "browser", "page", "channel", "requests", "min ms",
                "median ms", "p90 ms", "misses");
    for (const auto browser : {Browser::Chromium, Browser::Firefox}) {
        for (const char *page : {"small", "large"}) {
            DesktopSession desktop;
            if (const QString why = desktop.start(true); !why.isEmpty()) {
                std::fprintf(stderr, "cannot start a desktop: %s\n", qPrintable(why));
                return 1;
            }
            const QString url = pages.url(QStringLiteral("/%1/bench").arg(QLatin1String(page)));
            const qint64 pid = fennimar::test::launchBrowser(desktop, browser, {url});
            fennimar::RealClock clock;
            AtspiAccessibility reader(clock, desktop.sessionBus());
            AtspiAccessibility::Options overBus;
            overBus.useApplicationSocket = false;
            AtspiAccessibility busReader(clock, desktop.sessionBus(), {}, overBus);
            AtspiAccessibility::Options walking;
            walking.limits.walkOnly = true;
            walking.readBudget = fennimar::Millis(5000);  // measured whole, not cut by the read's budget
            AtspiAccessibility walker(clock, desktop.sessionBus(), {}, walking);
            const bool ready = fennimar::test::waitUntil(
                [&] {
                    return reader.readAddress(pid) == AddressOutcome::url(url) &&
                           busReader.readAddress(pid) == AddressOutcome::url(url) &&
                           walker.readAddress(pid) == AddressOutcome::url(url);
                },
                30000, 200);
            if (!ready) {
                std::printf("%-9s %-6s  no address within 30 s\n", fennimar::test::name(browser), page);
                continue;
            }
            // Let the browser finish starting up: a busy main thread looks hung for a moment.
            fennimar::test::waitUntil([] { return false; }, 3000);
            const std::pair<const char *, AtspiAccessibility *> channels[] = {
                {"socket", &reader}, {"bus", &busReader}, {"walk", &walker}};
            for (const auto &[channel, subject] : channels) {
                const Figures figures = measure(*subject, pid, reads);
                std::printf("%-9s %-6s %-7s %9.1f %8.2f %10.2f %8.2f %7d\n", fennimar::test::name(browser), page,
                            channel, figures.requests, figures.min, figures.median, figures.p90, figures.misses);
            }
            if (QLatin1String(page) == QLatin1String("small")) {
                ::kill(static_cast<pid_t>(pid), SIGSTOP);
                QElapsedTimer timer;
                timer.start();
                const AddressOutcome hung = reader.readAddress(pid);
                const double first = static_cast<double>(timer.nsecsElapsed()) / 1e6;
                timer.restart();
                reader.readAddress(pid);
                const double next = static_cast<double>(timer.nsecsElapsed()) / 1e6;
                ::kill(static_cast<pid_t>(pid), SIGCONT);
                std::printf("%-9s %-6s first read %.1f ms (%s), next read in back-off %.2f ms\n",
                            fennimar::test::name(browser), "hung", first, qPrintable(hung.text), next);
            }
        }
    }
    return 0;
}
