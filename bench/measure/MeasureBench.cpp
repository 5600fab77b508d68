// Prints the cost of the measuring path: one sampler tick, the host rules, the reference walk and the
// ledger's add, save and load. Figures only; nothing here passes or fails.
#include "bench/BenchStats.h"
#include "measure/ActivitySampler.h"
#include "platform/BrowserURLReader.h"
#include "measure/DayLedger.h"
#include "measure/MonitoredApps.h"
#include "core/DurableFile.h"
#include "core/VirtualClock.h"
#include "tests/fakes/Fakes.h"
#include "tests/fakes/FakeElementTree.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <functional>
#include <vector>

using namespace fennimar;
using namespace std::chrono_literals;

namespace {

// Median and 99th percentile of `rounds` timings of `batch` calls each, in ns per call.
void report(const char *what, int rounds, int batch, const std::function<void()> &call)
{
    const bench::Samples perCall = bench::timePerCall(rounds, batch, call);
    std::printf("%-58s median %12.0f ns   p99 %12.0f ns\n", what, perCall.at(0.5), perCall.at(0.99));
}

void samplerTicks()
{
    QTemporaryDir dir;
    VirtualClock clock;
    DayLedger ledger(dir.filePath(QStringLiteral("ledger.json")), clock);
    MonitoredApps monitored(BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock), {}, {}, clock);
    QStringList packages{QStringLiteral("linux:org.example.Editor")};
    for (int i = 0; i < 200; ++i)
        packages << QStringLiteral("web:site%1.example.com").arg(i);
    monitored.apply(packages);
    test::FakeDesktop desktop;
    test::FakeAccessibility accessibility;
    accessibility.addresses.insert(7, AddressOutcome::url(QStringLiteral("https://www.site150.example.com/watch?v=1")));
    test::FakeAppCatalog catalog;
    ActivitySampler sampler(clock, ledger, monitored, desktop, accessibility, catalog);
    sampler.start();
    desktop.front = RunningApp{QStringLiteral("org.example.Editor"), 1, QStringLiteral("Editor"), {}};
    report("sampler tick, monitored app (incl. virtual clock step)", 50, 2000, [&] { clock.advance(1s); });
    desktop.front = RunningApp{QStringLiteral("firefox"), 7, QStringLiteral("Firefox"), {}};
    report("sampler tick, browser on a monitored site (fake read)", 50, 2000, [&] { clock.advance(1s); });
    desktop.idleSeconds = 120;
    report("sampler tick, idle", 50, 2000, [&] { clock.advance(1s); });
}

void hostRules()
{
    VirtualClock clock;
    MonitoredApps monitored(BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock), {}, {}, clock);
    QStringList packages;
    for (int i = 0; i < 200; ++i)
        packages << QStringLiteral("web:domain%1.example.org").arg(i);
    monitored.apply(packages);
    const QString hit = QStringLiteral("https://www.video.domain120.example.org/watch?v=abc&t=10");
    const QString miss = QStringLiteral("https://news.other-site.net/2026/03/14/story.html");
    const QString bare = QStringLiteral("domain7.example.org/path");
    volatile bool sink = false;
    report("host(of:) of a full address", 50, 5000, [&] { sink = MonitoredApps::host(hit).has_value(); });
    report("host(of:) of an address-bar text without scheme", 50, 5000,
           [&] { sink = MonitoredApps::host(bare).has_value(); });
    report("isMonitored, 200 domains, match", 50, 5000, [&] { sink = monitored.isMonitored(hit); });
    report("isMonitored, 200 domains, no match", 50, 5000, [&] { sink = monitored.isMonitored(miss); });
    (void)sink;
}

void referenceWalk()
{
    test::FakeElementTree tree;
    auto window = tree.element("AXWindow");
    tree.apps.insert(1, tree.element("AXApplication", "AXFocusedWindow", window));
    // 1,500 elements: a toolbar with an address field, then groups five wide, the page last.
    auto toolbar = tree.element("AXToolbar");
    auto field = tree.element("AXTextField");
    field->set("AXValue", QStringLiteral("example.com/page"));
    toolbar->add(field);
    window->add(toolbar);
    std::vector<std::shared_ptr<test::FakeElement>> level{window};
    int count = 3;
    while (count < 1499) {
        std::vector<std::shared_ptr<test::FakeElement>> next;
        for (auto &parent : level) {
            for (int k = 0; k < 5 && count < 1499; ++k, ++count) {
                auto child = tree.element();
                parent->add(child);
                next.push_back(child);
            }
        }
        level = std::move(next);
    }
    auto area = tree.element("AXWebArea");
    area->set("AXURL", QUrl(QStringLiteral("https://example.com/page")));
    level.back()->add(area);
    AddressOutcome last;
    report("reference walk, 1,500-element tree, page last", 20, 20, [&] { last = BrowserURLReader::read(tree, 1); });
    *tree.requests = 0;
    BrowserURLReader::read(tree, 1);
    std::printf("  outcome kind %d, %d attribute requests per read\n", static_cast<int>(last.kind), *tree.requests);
}

// The ledger logs a line per load; those lines are not figures.
class QuietStderr {
public:
    QuietStderr() : m_saved(::dup(2))
    {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::close(null);
    }
    ~QuietStderr()
    {
        ::dup2(m_saved, 2);
        ::close(m_saved);
    }

private:
    int m_saved;
};

std::map<QString, DayRecord> monthOfDays(const QDate &start)
{
    std::map<QString, DayRecord> days;
    for (int d = 0; d < 31; ++d) {
        DayRecord r;
        r.date = start.addDays(d).toString(QStringLiteral("yyyy-MM-dd"));
        for (int h = 0; h < 24; ++h)
            r.buckets[static_cast<size_t>(h)] = (d * 37 + h * 101) % 3601;
        r.tzOffsetMinutes = 60;
        r.reportedTotal = d % 2 ? r.total() : -1;
        days.emplace(r.date, r);
    }
    return days;
}

void ledger()
{
    QTemporaryDir dir;
    VirtualClock clock;
    const QString path = dir.filePath(QStringLiteral("ledger.json"));
    DayLedger ledger(path, clock);
    const QDateTime at = clock.now();
    report("DayLedger::add", 50, 20000, [&] { ledger.add(1, at); });

    ledger.days() = monthOfDays(QDate(2026, 2, 12));
    const QByteArray bytes = DayLedger::encode(ledger.days());
    std::printf("  31 days encode to %lld bytes\n", static_cast<long long>(bytes.size()));
    report("encode 31 days", 20, 50, [&] { (void)DayLedger::encode(ledger.days()); });
    report("save 31 days, AtomicOnly (write + rename)", 20, 10,
           [&] { (void)writeFileAtomically(path, DayLedger::encode(ledger.days()), Durability::AtomicOnly); });
    report("save 31 days, Synced (write + fsync + rename + dir fsync)", 10, 5,
           [&] { (void)writeFileAtomically(path, DayLedger::encode(ledger.days()), Durability::Synced); });
    report("DayLedger::save, 31 days", 10, 5, [&] { (void)ledger.save(); });
    QuietStderr quiet;
    report("load 31 days (DayLedger construction)", 20, 20, [&] { DayLedger loaded(path, clock); });
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    samplerTicks();
    hostRules();
    referenceWalk();
    ledger();
    return 0;
}
