#include "measure/ActivitySampler.h"
#include "measure/DayLedger.h"
#include "measure/MonitoredApps.h"
#include "platform/PlatformTraits.h"
#include "platform/TamperEvidence.h"
#include "core/VirtualClock.h"
#include "tests/fakes/Fakes.h"
#include "tests/support/LogCapture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

using namespace fennimar;
using namespace std::chrono_literals;
using Verdict = ActivitySampler::Verdict;

namespace {

const QString editor = QStringLiteral("org.example.Editor");
// A browser of this platform (Linux names desktop entries, macOS bundle identifiers).
const QString browserId = *std::min_element(platform::browserIds().begin(), platform::browserIds().end());
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

class SamplerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    VirtualClock clock{QDateTime(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc())};
    DayLedger ledger{dir.filePath(QStringLiteral("ledger.json")), clock};
    // The list never fetches here: its content comes from apply().
    MonitoredApps monitored{BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock), {}, {}, clock};
    test::FakeDesktop desktop;
    test::FakeAccessibility accessibility;
    test::FakeAppCatalog catalog;
    std::unique_ptr<ActivitySampler> sampler =
        std::make_unique<ActivitySampler>(clock, ledger, monitored, desktop, accessibility, catalog);
    void SetUp() override
    {
        monitored.apply({platform::appPrefix() + editor, QStringLiteral("web:Example.COM")});
        desktop.front = RunningApp{editor, 10, {}, {}};
        test::LogCapture log;
        sampler->start();
        EXPECT_TRUE(log.lines().contains(QStringLiteral("INFO ] sampler started · tick=1s idle=60s")));
    }

    qint64 total() const { return ledger.today(clock.now()).total(); }
    // One tick `elapsed` seconds after the last (the wall clock moves by the difference); the credit.
    qint64 tickAfter(double elapsed)
    {
        const qint64 before = total();
        clock.jumpWallClock(Millis(std::llround(elapsed * 1000.0) - 1000));
        EXPECT_EQ(clock.advance(1s), 1);
        return total() - before;
    }
};

TEST_F(SamplerTest, CreditFollowsTheElapsedTimeTheLockAndTheTimeSinceInput)
{
    struct Case {
        double elapsed;
        bool locked;
        std::optional<double> idle;  // nothing: unknown (a slow or lost display server) is away
        qint64 credited;
        bool counting;         // the verdict after the tick: counting, or away
        const char *logged;    // nullptr: nothing
        qint64 inhibitor = 0;  // the process holding a video inhibitor; the front app is 10
        bool hidden = false;   // input cannot be seen
    };
    const Case cases[] = {
        {1.0, false, 0, 1, true, nullptr},
        {0.5, false, 0, 1, true, nullptr},
        {1.5, false, 0, 2, true, nullptr},
        {4.0, false, 0, 2, true, nullptr},
        {4.01, false, 0, 0, false, "INFO ] gap of 4s — machine slept or agent stalled; crediting nothing"},
        {1.0, false, 59.9, 1, true, nullptr},  // the gap forgot the last reading: both of these ask
        {1.0, false, 60.0, 0, false, nullptr},
        {1.0, false, nan, 0, false, nullptr},
        {1.0, false, std::nullopt, 0, false, nullptr},
        {1.0, false, 600, 1, true, nullptr, 10},            // a film in the front app
        {1.0, false, 600, 0, false, nullptr, 11},           // a film in an app behind it
        {1.0, false, 10799, 1, true, nullptr, 10},          // three hours without input, nearly
        {1.0, false, 10800, 0, false, nullptr, 10},         // then idle until the next input
        {1.0, false, std::nullopt, 0, false, nullptr, 10},  // an unknown time since input cannot be bounded
        {1.0, false, 600, 1, true, nullptr, 0, true},       // input cannot be seen: bounded as a film
        {1.0, false, 10800, 0, false, nullptr, 0, true},
        {1.0, true, 600, 0, false, nullptr, 10},  // a lock, or a session switched out, wins
        {1.0, true, 0, 0, false, nullptr},        // input arrives while the screen is locked
        {-2.0, false, 0, 0, true, nullptr},       // the clock was set back
        {1.0, false, 0, 1, true, nullptr},        // the measurement restarts from the last tick
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.elapsed << " idle " << c.idle.value_or(-1) << " locked " << c.locked
                                        << " inhibitor " << c.inhibitor << " hidden " << c.hidden);
        desktop.locked = c.locked;
        desktop.idleSeconds = c.idle;
        desktop.inhibitorPid = c.inhibitor;
        desktop.hidden = c.hidden;
        test::LogCapture log;
        EXPECT_EQ(tickAfter(c.elapsed), c.credited);
        EXPECT_EQ(log.lines().filter(QStringLiteral("] gap ")),
                  c.logged ? QStringList{QString::fromUtf8(c.logged)} : QStringList{});
        EXPECT_EQ(sampler->verdict(), c.counting ? Verdict::counting(editor) : Verdict::idle());
    }
}

// Sparse reads credit what a read every tick does; a suspend-sized gap or a clock set back forgets the bound.
TEST_F(SamplerTest, TheIdleBoundGivesTheVerdictsOfAReadingOnEveryTick)
{
    QDateTime lastInput = clock.now();
    desktop.idle = [&] { return static_cast<double>(lastInput.msecsTo(clock.now())) / 1000.0; };
    std::set<int> inputs;  // tick numbers at which input arrives just before the tick
    for (int t = 0; t < 600; t += 7)
        inputs.insert(t);
    inputs.insert({640, 690, 741, 1300, 1301});
    desktop.idleCalls = 0;
    int away = 0;
    for (int t = 1; t <= 1400; ++t) {
        if (inputs.count(t))
            lastInput = clock.now();
        const double elapsed = t % 10 ? 1.0 : 3.0;
        const qint64 got = tickAfter(elapsed);
        const bool active = lastInput.msecsTo(clock.now()) < 60000;
        away += active ? 0 : 1;
        ASSERT_EQ(got, active ? (elapsed > 1 ? 2 : 1) : 0) << "tick " << t;
    }
    EXPECT_LE(desktop.idleCalls, away + 40) << "about one reading a minute while active";
    for (const double elapsed : {30.0, -5.0}) {
        lastInput = clock.now();
        tickAfter(1.0);
        const int before = desktop.idleCalls;
        tickAfter(elapsed);
        tickAfter(1.0);
        EXPECT_EQ(desktop.idleCalls, before + 1) << elapsed;
    }
}

// Stopping the agent again and again while the computer is awake is evidence; suspends and a rare stall are not.
TEST_F(SamplerTest, RepeatedStallsAreTamperEvidenceAndSuspendsAreNot)
{
    const struct {
        const char *name;
        bool suspend;
        int times;
        bool evidence;
    } cases[] = {
        {"a suspend of 13 s in every 14", true, 250, false},
        {"five stalls within an hour", false, 5, false},
        {"six stalls within an hour", false, 6, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TamperEvidence tamper;
        sampler = std::make_unique<ActivitySampler>(clock, ledger, monitored, desktop, accessibility, catalog);
        sampler->setTamperEvidence(&tamper);
        sampler->start();
        for (int i = 0; i < c.times; ++i) {
            c.suspend ? clock.suspend(13s) : clock.stall(13s);
            clock.advance(1s);
        }
        EXPECT_EQ(!tamper.standing().isEmpty(), c.evidence) << tamper.standing().toStdString();
        clock.advance(1h);  // the stalls are over an hour old
        EXPECT_EQ(tamper.standing(), QString());
    }
}

TEST_F(SamplerTest, TheFrontAppOrTheBrowsersPageDecides)
{
    const auto url = [](const char *u) { return AddressOutcome::url(QString::fromLatin1(u)); };
    const QString prefix = platform::appPrefix();
    struct Case {
        const char *label;
        QString monitoredEntry;
        std::optional<RunningApp> front;
        AddressOutcome read;
        Verdict verdict;
    };
    const RunningApp editorApp{editor, 10, {}, {}}, browser{browserId, 77, {}, {}};
    const Case cases[] = {
        {"listed app", prefix + editor, editorApp, {}, Verdict::counting(editor)},
        {"an app nobody names is not the one before", prefix + editor, RunningApp{{}, 12, {}, {}}, {}, Verdict::idle()},
        {"no prefix", editor, editorApp, {}, Verdict::notMonitored(editor)},
        {"nothing in front", prefix + editor, std::nullopt, {}, Verdict::idle()},
        {"editing before any address", prefix + browserId, browser, AddressOutcome::editing(),
         Verdict::browserUnreadable(browserId, QStringLiteral("address bar being edited"))},
        {"monitored site", QStringLiteral("web:Example.COM"), browser, url("https://www.video.Example.com/watch"),
         Verdict::counting(QStringLiteral("video.example.com"))},
        {"editing keeps the last address", QStringLiteral("web:Example.COM"), browser, AddressOutcome::editing(),
         Verdict::counting(QStringLiteral("video.example.com"))},
        {"no host", QStringLiteral("web:example.com"), browser, url("about:blank"), Verdict::notMonitored(browserId)},
        {"no permission", QStringLiteral("web:example.com"), browser, AddressOutcome::noPermission(),
         Verdict::browserNoPermission(browserId)},
    };
    test::LogCapture log;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        monitored.apply({c.monitoredEntry});
        desktop.front = c.front;
        accessibility.addresses.insert(77, c.read);
        const qint64 credited = tickAfter(1.0);
        EXPECT_EQ(sampler->verdict(), c.verdict);
        EXPECT_EQ(credited, c.verdict.kind == Verdict::Kind::Counting ? 1 : 0);
    }
    desktop.front = editorApp;
    monitored.apply({prefix + editor});
    EXPECT_EQ(tickAfter(1.0), 1);  // not more: the empty ticks moved the start of the measurement
    sampler->stop();               // each stretch of counting is logged with its seconds as it ends
    EXPECT_EQ(log.lines().filter(QStringLiteral("] counted ")),
              QStringList({"INFO ] counted org.example.Editor · 1s", "INFO ] counted video.example.com · 2s",
                           "INFO ] counted org.example.Editor · 1s"}));
}

// A browser in front hiding its page for over 2 min of presence is told; a read, another app or no site ends it.
TEST_F(SamplerTest, APageUnreadableForTwoMinutesIsTold)
{
    // Each step: ticks; app in front; its page; present or locked; a site on the list or none; told after it.
    const char *steps[] = {"119 browser hidden present site -",    "30 browser hidden locked site -",
                           "2 browser hidden present site told",   "1 browser read present site -",
                           "120 browser hidden present site -",    "1 editor hidden present site -",
                           "121 browser hidden present site told", "1 browser hidden present none -"};
    test::LogCapture log;
    for (const QString step : steps) {
        SCOPED_TRACE(step.toStdString());
        const QStringList w = step.split(' ');
        monitored.apply({w[4] == "site" ? "web:example.com" : "x"});
        desktop.front = RunningApp{w[1] == "browser" ? browserId : editor, 77, {}, {}};
        desktop.locked = w[3] == "locked";
        accessibility.addresses.insert(
            77, w[2] == "read" ? AddressOutcome::url("https://a.b/") : AddressOutcome::unreadable("no address found"));
        for (int i = 0; i < w[0].toInt(); ++i)
            tickAfter(1.0);
        EXPECT_EQ(sampler->unreadableBrowser(), w[5] == "told" ? browserId : QString());
    }
    EXPECT_EQ(log.lines().filter("unreadable for over 120 s in front (no address found) · its sites").size(), 2);
    EXPECT_EQ(log.lines().filter("no longer unreadable in front").size(), 2);
}

TEST_F(SamplerTest, ADomainCoversItselfAndItsSubdomainsOnly)
{
    monitored.apply({QStringLiteral("web:example.com"), QStringLiteral("web:www.games.org"),
                     QStringLiteral("web:XN--BCHER-KVA.de"),
                     platform::appPrefix() + QStringLiteral("web:ignored.net")});
    const std::pair<const char *, bool> cases[] = {
        {"https://example.com/", true},
        {"HTTPS://A.B.EXAMPLE.COM/", true},
        {"https://example.com.:443/", true},
        {"https://badexample.com/", false},
        {"https://example.com.evil.net/", false},
        // A "www." domain covers only the hosts below it; the visited "www." goes once.
        {"https://games.org/", false},
        {"https://www.games.org/", false},
        {"https://www.www.games.org/", true},
        {"https://shop.bücher.de/", true},
        {"https://xn--bcher-kva.de/", true},
        {"https://ignored.net/", false}};
    for (const auto &[url, covered] : cases)
        EXPECT_EQ(monitored.isMonitored(QString::fromUtf8(url)), covered) << url;
}

}  // namespace
