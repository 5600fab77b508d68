#include "inventory/SeenAppsReporter.h"
#include "measure/ActivitySampler.h"
#include "measure/DayLedger.h"
#include "measure/MonitoredApps.h"
#include "platform/VirtualClock.h"
#include "tests/fakes/FakeAccessibility.h"
#include "tests/fakes/FakeAppCatalog.h"
#include "tests/fakes/FakeDesktop.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

using namespace fennimar;
using namespace std::chrono_literals;
using fennimar::test::FakeAccessibility;
using fennimar::test::FakeAppCatalog;
using fennimar::test::FakeDesktop;
using Verdict = ActivitySampler::Verdict;

namespace {

const QString editor = QStringLiteral("org.example.Editor");
const QString firefox = QStringLiteral("firefox");
constexpr qint64 firefoxPid = 77;

RunningApp running(const QString &id, qint64 pid = 10)
{
    return {id, pid, id + QStringLiteral(" app"), {}};
}

class SamplerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    VirtualClock clock{QDateTime(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc())};
    DayLedger ledger{dir.filePath(QStringLiteral("ledger.json")), clock};
    // The list never fetches here: its content comes from apply().
    MonitoredApps monitored{BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock),
                            QStringLiteral("t"), QStringLiteral("d"), clock};
    FakeDesktop desktop;
    FakeAccessibility accessibility;
    FakeAppCatalog catalog;
    std::unique_ptr<ActivitySampler> sampler =
        std::make_unique<ActivitySampler>(clock, ledger, monitored, desktop, accessibility, catalog);

    void SetUp() override
    {
        monitored.apply(
            {QStringLiteral("linux:") + editor, QStringLiteral("web:Example.COM"), QStringLiteral("linux:firefox")});
        desktop.front = running(editor);
        ::testing::internal::CaptureStderr();
        sampler->start();
        EXPECT_NE(::testing::internal::GetCapturedStderr().find("sampler started \u00b7 tick=1s idle=60s"),
                  std::string::npos);
    }

    qint64 total() const { return ledger.today(clock.now()).total(); }

    // Runs one tick that finds `elapsed` seconds since the previous one (the wall clock is moved by
    // the difference, as a sleep or a clock change would) and returns the seconds credited.
    qint64 tickAfter(double elapsed)
    {
        const qint64 before = total();
        clock.jumpWallClock(Millis(std::llround(elapsed * 1000.0) - 1000));
        EXPECT_EQ(clock.advance(1s), 1);
        return total() - before;
    }
};

TEST_F(SamplerTest, CreditFollowsTheElapsedTimeRoundedAndCapped)
{
    struct Case {
        double elapsed;
        qint64 credited;
        Verdict verdict;
        const char *logged;  // nullptr: nothing
    };
    const Case cases[] = {
        {1.0, 1, Verdict::counting(editor), nullptr},
        {0.4, 0, Verdict::counting(editor), nullptr},
        {0.5, 1, Verdict::counting(editor), nullptr},
        {1.49, 1, Verdict::counting(editor), nullptr},
        {1.5, 2, Verdict::counting(editor), nullptr},
        {3.0, 2, Verdict::counting(editor), nullptr},
        {4.0, 2, Verdict::counting(editor), nullptr},
        {4.01, 0, Verdict::idle(), "gap of 4s \u2014 machine slept or agent stalled; crediting nothing"},
        {37.9, 0, Verdict::idle(), "gap of 37s \u2014 machine slept or agent stalled; crediting nothing"},
        {-2.0, 0, Verdict::counting(editor), nullptr},  // the clock was set back
        {1.0, 1, Verdict::counting(editor), nullptr},   // the measurement restarts from the last tick
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.elapsed);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(tickAfter(c.elapsed), c.credited);
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(sampler->verdict(), c.verdict);
        if (c.logged)
            EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        else
            EXPECT_EQ(log, "");
    }
}

TEST_F(SamplerTest, LockAndIdleMakeTheUserAway)
{
    struct Case {
        bool locked;
        std::optional<double> idle;
        qint64 credited;
    };
    const Case cases[] = {
        {false, 59.9, 1},         {false, 60.0, 0},
        {false, 3600.0, 0},       {false, std::numeric_limits<double>::quiet_NaN(), 0},
        {true, 0.0, 0},            // input arrives while the screen is locked
        {false, std::nullopt, 0},  // unknown (a slow or lost display server) is away
        {false, 0.0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.idle.value_or(-1));
        desktop.locked = c.locked;
        desktop.idleSeconds = c.idle;
        EXPECT_EQ(tickAfter(1.0), c.credited);
        EXPECT_EQ(sampler->verdict(), c.credited ? Verdict::counting(editor) : Verdict::idle());
    }
    EXPECT_EQ(desktop.frontmostCalls, 2);  // the away ticks never looked at the frontmost app
}

// A user who types in bursts and leaves for a while, with the time since input the desktop would
// really report. Every verdict equals the one a reading on every tick gives, including the exact
// second the user turns idle and the tick input comes back, while the desktop is asked about
// once a minute when the user is active. A suspend-sized gap or a clock set back forgets what a
// reading proved.
TEST_F(SamplerTest, TheTimeSinceInputIsAskedOnlyWhenItCouldHaveReachedTheThreshold)
{
    QDateTime lastInput = clock.now();
    desktop.idle = [&] { return static_cast<double>(lastInput.msecsTo(clock.now())) / 1000.0; };
    // Seconds from the start at which input arrives: steady work, a pause just under and one just
    // over the threshold, then away for ten minutes.
    std::set<int> inputs;
    for (int t = 0; t < 600; t += 7)
        inputs.insert(t);
    inputs.insert({659, 719, 781, 1400, 1401});
    desktop.idleCalls = 0;
    qint64 credited = 0, expected = 0;
    for (int t = 1; t <= 1500; ++t) {
        if (inputs.count(t - 1))
            lastInput = clock.now();
        const bool active = lastInput.secsTo(clock.now().addSecs(1)) < 60;
        const qint64 got = tickAfter(1.0);
        credited += got;
        expected += active ? 1 : 0;
        ASSERT_EQ(got, active ? 1 : 0) << "second " << t;
    }
    EXPECT_EQ(credited, expected);
    const int awayTicks = static_cast<int>(1500 - expected);
    EXPECT_LE(desktop.idleCalls, awayTicks + 40) << "about one reading a minute while active";

    // A gap, or the clock set back, and the next tick asks again.
    for (const double elapsed : {30.0, -5.0}) {
        lastInput = clock.now();
        tickAfter(1.0);
        const int before = desktop.idleCalls;
        tickAfter(elapsed);
        tickAfter(1.0);
        EXPECT_EQ(desktop.idleCalls, before + 1) << elapsed;
    }
}

TEST_F(SamplerTest, NoFrontmostAppKeepsTheVerdictAndStillAdvancesTheMeasurement)
{
    EXPECT_EQ(tickAfter(1.0), 1);
    for (const std::optional<RunningApp> &front : {std::optional<RunningApp>(), std::optional(running(QString()))}) {
        desktop.front = front;
        EXPECT_EQ(tickAfter(1.0), 0);
        EXPECT_EQ(sampler->verdict(), Verdict::counting(editor));
    }
    desktop.front = running(editor);
    EXPECT_EQ(tickAfter(1.0), 1);  // not 3: the empty ticks moved the start of the measurement
}

TEST_F(SamplerTest, AnAppCountsOnlyUnderThisPlatformsPrefix)
{
    struct Case {
        QString entry;
        Verdict verdict;
    };
    const Case cases[] = {
        {QStringLiteral("linux:org.example.Editor"), Verdict::counting(editor)},
        {QStringLiteral("org.example.Editor"), Verdict::notMonitored(editor)},
        {QStringLiteral("mac:org.example.Editor"), Verdict::notMonitored(editor)},
        {QStringLiteral("linux:org.example.editor"), Verdict::notMonitored(editor)},
    };
    for (const Case &c : cases) {
        monitored.apply({c.entry});
        const qint64 credited = tickAfter(1.0);
        EXPECT_EQ(sampler->verdict(), c.verdict) << c.entry.toStdString();
        EXPECT_EQ(credited, c.verdict.kind == Verdict::Kind::Counting ? 1 : 0);
    }
}

TEST_F(SamplerTest, ABrowserIsJudgedByItsPage)
{
    desktop.front = running(firefox, firefoxPid);
    const auto url = [](const char *u) { return AddressOutcome::url(QString::fromLatin1(u)); };
    struct Case {
        const char *label;
        AddressOutcome read;
        Verdict verdict;
    };
    const Case cases[] = {
        {"editing before any address", AddressOutcome::editing(),
         Verdict::browserUnreadable(firefox, QStringLiteral("address bar being edited"))},
        {"monitored site", url("https://www.video.Example.com/watch"),
         Verdict::counting(QStringLiteral("video.example.com"))},
        {"editing keeps the last address", AddressOutcome::editing(),
         Verdict::counting(QStringLiteral("video.example.com"))},
        {"unmonitored site, though the browser itself is listed", url("https://other.org/"),
         Verdict::notMonitored(QStringLiteral("other.org"))},
        {"look-alike domain", url("https://badexample.com/"), Verdict::notMonitored(QStringLiteral("badexample.com"))},
        {"no host", url("about:blank"), Verdict::notMonitored(firefox)},
        {"unreadable", AddressOutcome::unreadable(QStringLiteral("page too large to scan")),
         Verdict::browserUnreadable(firefox, QStringLiteral("page too large to scan"))},
        {"no permission", AddressOutcome::noPermission(), Verdict::browserNoPermission(firefox)},
    };
    for (const Case &c : cases) {
        accessibility.addresses.insert(firefoxPid, c.read);
        const qint64 credited = tickAfter(1.0);
        EXPECT_EQ(sampler->verdict(), c.verdict) << c.label;
        EXPECT_EQ(credited, c.verdict.kind == Verdict::Kind::Counting ? 1 : 0) << c.label;
    }
    EXPECT_EQ(accessibility.reads, static_cast<int>(std::size(cases)));
}

TEST_F(SamplerTest, ActiveTicksTellTheSeenAppsReporter)
{
    catalog.described.insert(
        editor, SeenApp{editor, QStringLiteral("Editor"), QStringLiteral(" public.app-category.developer-tools ")});
    SeenAppsReporter reporter(BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock),
                              PairedIdentity{}, catalog, clock, dir.filePath(QStringLiteral("reported-apps.json")));
    sampler->setSeenApps(&reporter);
    desktop.idleSeconds = 90;
    tickAfter(1.0);
    EXPECT_TRUE(reporter.pending().empty());
    desktop.idleSeconds = 0;
    desktop.front = running(QStringLiteral("org.example.Free"));
    tickAfter(1.0);
    desktop.front = running(editor);
    tickAfter(1.0);
    ASSERT_EQ(reporter.pending().size(), 2u);
    EXPECT_EQ(reporter.pending().at(editor), (SeenApp{editor, editor + QStringLiteral(" app"),
                                                      QStringLiteral("public.app-category.developer-tools")}));
    sampler->setSeenApps(nullptr);
}

TEST_F(SamplerTest, AStoppedOrReleasedSamplerNeverTicksAgain)
{
    EXPECT_EQ(tickAfter(1.0), 1);
    sampler->stop();
    EXPECT_FALSE(sampler->isRunning());
    EXPECT_EQ(clock.advance(5s), 0);
    sampler->start();  // a restart measures from now, not from the last tick
    clock.advance(1s);
    EXPECT_EQ(total(), 2);
    sampler.reset();
    EXPECT_EQ(clock.pendingTimers(), 0u);
    EXPECT_EQ(clock.advance(5s), 0);
    EXPECT_EQ(total(), 2);
}

// A desktop whose state is a function of the virtual time, so that a whole day runs in one advance().
class ScriptedDesktop : public Desktop {
public:
    explicit ScriptedDesktop(const Clock &c) : m_clock(c) {}
    std::optional<RunningApp> frontmostApp() override
    {
        const QTime t = m_clock.localNow().time();
        switch (t.hour()) {
            case 8:
            case 9:
                return running(editor);
            case 10:
            case 11:
                return running(firefox, firefoxPid);
            case 14:  // switching every second between a monitored and a free app
                return running(t.second() % 2 ? editor : QStringLiteral("org.example.Free"));
            case 16:  // nothing in front for the first quarter of an hour
                if (t.minute() < 15)
                    return std::nullopt;
                return running(editor);
            default:
                return running(QStringLiteral("org.example.Free"));
        }
    }
    std::optional<double> secondsSinceInput() override
    {
        const QTime t = m_clock.localNow().time();
        if (t.hour() == 9)  // away for the second half of each two minutes
            return (t.minute() * 60 + t.second()) % 120;
        return 1;
    }
    bool screenLocked() override
    {
        return m_clock.localNow().time().hour() == 10 && m_clock.localNow().time().minute() >= 30;
    }
    QString samplingProblem() override { return {}; }

private:
    const Clock &m_clock;
};

TEST(SamplerDay, ADayOfTicksFillsExactlyTheExpectedBuckets)
{
    QTemporaryDir dir;
    const QTimeZone zone("Europe/Berlin");
    VirtualClock clock(QDateTime(QDate(2026, 6, 1), QTime(0, 0), zone), zone);
    DayLedger ledger(dir.filePath(QStringLiteral("ledger.json")), clock);
    MonitoredApps monitored(BackendClient::create(QUrl(QStringLiteral("http://127.0.0.1:9")), clock), {}, {}, clock);
    monitored.apply({QStringLiteral("linux:") + editor, QStringLiteral("web:example.com")});
    ScriptedDesktop desktop(clock);
    FakeAccessibility accessibility;
    accessibility.addresses.insert(firefoxPid, AddressOutcome::url(QStringLiteral("https://example.com/")));
    FakeAppCatalog catalog;
    ActivitySampler sampler(clock, ledger, monitored, desktop, accessibility, catalog);
    ::testing::internal::CaptureStderr();
    sampler.start();
    // Ticks at 00:00:01 ... 24:00:00; the page turns unmonitored at 11:00.
    EXPECT_EQ(clock.advance(11h), 11 * 3600);
    accessibility.addresses.insert(firefoxPid, AddressOutcome::url(QStringLiteral("https://other.org/")));
    EXPECT_EQ(clock.advance(13h), 13 * 3600);
    ::testing::internal::GetCapturedStderr();

    // A tick credits the hour it runs in: hour h holds the ticks at h:00:00 ... h:59:59.
    std::array<qint64, 24> expected{};
    expected[8] = 3600;   // the editor all hour
    expected[9] = 1800;   // input within the minute for half of each two minutes
    expected[10] = 1800;  // a monitored page until the screen locks at 10:30
    expected[11] = 1;     // the 11:00:00 tick still found the monitored page
    expected[14] = 1800;  // the odd seconds
    expected[16] = 2700;  // nothing in front until 16:15
    const DayRecord day = ledger.today(QDateTime(QDate(2026, 6, 1), QTime(12, 0), zone));
    EXPECT_EQ(day.buckets, expected);
    EXPECT_EQ(day.tzOffsetMinutes, 120);
}

}  // namespace
