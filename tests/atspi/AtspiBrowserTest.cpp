#include "platform/RealClock.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/atspi/X11WindowTitle.h"
#include "tests/atspi/BrowserDesktop.h"

#include <QElapsedTimer>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>

namespace fennimar {

void PrintTo(const AddressOutcome &outcome, std::ostream *os)
{
    static const char *const kinds[] = {"url", "unreadable", "editing", "noPermission"};
    *os << kinds[static_cast<int>(outcome.kind)] << "(" << outcome.text.toStdString() << ")";
}

namespace {

using namespace std::chrono_literals;
using test::Browser;
using test::DesktopSession;
using test::PageServer;
using test::waitUntil;

const AddressOutcome noAddress = AddressOutcome::unreadable(AddressOutcome::noAddressFound);

// One desktop and one browser per browser kind, shared by that kind's tests: starting a browser is
// the expensive part, and the tests below only move it from page to page.
struct Session {
    DesktopSession desktop;
    RealClock clock;  // browsers run in real time, and so do the reader's back-offs
    std::shared_ptr<atspi::X11WindowTitle> title;
    std::unique_ptr<AtspiAccessibility> reader;
    qint64 pid = 0;
    QString failure;
};

class AtspiBrowserTest : public ::testing::TestWithParam<Browser> {
protected:
    static void TearDownTestSuite()
    {
        sessions().clear();
        pages.reset();
    }

    void SetUp() override
    {
        const QString program = GetParam() == Browser::Chromium ? "chromium" : "firefox-esr";
        if (QStandardPaths::findExecutable(program).isEmpty())
            GTEST_SKIP() << qPrintable(program) << " is not installed: browser test NOT run";
        if (!pages)
            pages = std::make_unique<PageServer>();
        auto &slot = sessions()[GetParam()];
        if (!slot) {
            slot = std::make_unique<Session>();
            slot->failure = slot->desktop.start(DesktopSession::Bus::AccessibilityOn);
            if (slot->failure.isEmpty()) {
                slot->pid = test::launchBrowser(slot->desktop, GetParam(), {url("one"), url("two")});
                if (slot->pid == 0)
                    slot->failure = QStringLiteral("the browser did not start");
            }
            slot->title = std::make_shared<atspi::X11WindowTitle>(slot->desktop.display());
            slot->reader = std::make_unique<AtspiAccessibility>(slot->clock, slot->desktop.sessionBus(),
                                                                [title = slot->title] { return title->activeTitle(); });
            // A browser's first start on a cold machine takes far longer than a change of page: wait
            // once for its first page, with a generous ceiling, before any test's own deadline.
            if (slot->failure.isEmpty())
                waitUntil([&] { return slot->reader->readAddress(slot->pid) == AddressOutcome::url(url("one")); },
                          120000, 500);
        }
        if (!slot->failure.isEmpty())
            GTEST_SKIP() << "AT-SPI desktop unavailable, test NOT run: " << qPrintable(slot->failure);
        session = slot.get();
    }

    static QString url(const QString &name, const char *size = "small")
    {
        return pages->url(QStringLiteral("/%1/%2").arg(QLatin1String(size), name));
    }

    // Reads until the expected outcome comes (a fresh page or a just-woken browser may take a few
    // reads) or 20 s pass; returns the last outcome.
    AddressOutcome readUntil(const AddressOutcome &expected)
    {
        AddressOutcome last;
        waitUntil(
            [&] {
                last = session->reader->readAddress(session->pid);
                if (qEnvironmentVariableIsSet("ATSPI_TEST_TRACE"))
                    std::fprintf(stderr, "read: kind %d %s (%d requests) front: %s\n", static_cast<int>(last.kind),
                                 qPrintable(last.text), session->reader->lastReadRequests(),
                                 qPrintable(session->desktop.activeWindowTitle()));
                return last == expected;
            },
            20000, 200);
        return last;
    }

    bool keys(const QString &keys) { return session->desktop.xdotool({"key", "--delay", "50", keys}); }

    static std::map<Browser, std::unique_ptr<Session>> &sessions()
    {
        static std::map<Browser, std::unique_ptr<Session>> all;
        return all;
    }
    static inline std::unique_ptr<PageServer> pages;
    Session *session = nullptr;
};

TEST_P(AtspiBrowserTest, ReadsTheSelectedTabWhileEditingAndAfterNavigating)
{
    EXPECT_EQ(readUntil(AddressOutcome::url(url("one"))), AddressOutcome::url(url("one")));

    // A reader meeting the running browser for the first time wakes it; the first read may miss,
    // the next one is right.
    AtspiAccessibility fresh(session->clock, session->desktop.sessionBus());
    AddressOutcome first;
    EXPECT_TRUE(waitUntil(
        [&] {
            first = fresh.readAddress(session->pid);
            return first == AddressOutcome::url(url("one"));
        },
        20000, 300))
        << "a fresh reader still reads " << ::testing::PrintToString(first);

    // The other tab's document stays in the tree; only the showing one is the answer.
    ASSERT_TRUE(keys("ctrl+Next"));
    EXPECT_EQ(readUntil(AddressOutcome::url(url("two"))), AddressOutcome::url(url("two")));

    ASSERT_TRUE(keys("ctrl+l"));
    ASSERT_TRUE(session->desktop.xdotool({"type", "--delay", "30", url("three")}));
    EXPECT_EQ(readUntil(AddressOutcome::editing()), AddressOutcome::editing());

    ASSERT_TRUE(keys("Return"));
    EXPECT_EQ(readUntil(AddressOutcome::url(url("three"))), AddressOutcome::url(url("three")));
    // The document navigated away from may linger; it is never the answer again. A read that runs
    // out of its time budget on a loaded machine finds no address, which is not a wrong answer.
    for (int i = 0; i < 5; ++i) {
        const AddressOutcome again = session->reader->readAddress(session->pid);
        EXPECT_TRUE(again == AddressOutcome::url(url("three")) || again == noAddress) << qPrintable(again.text);
    }
}

TEST_P(AtspiBrowserTest, ReadsALargePage)
{
    ASSERT_TRUE(keys("ctrl+l"));
    ASSERT_TRUE(session->desktop.xdotool({"type", "--delay", "20", url("big", "large")}));
    ASSERT_TRUE(keys("Return"));
    EXPECT_EQ(readUntil(AddressOutcome::url(url("big", "large"))), AddressOutcome::url(url("big", "large")));
}

TEST_P(AtspiBrowserTest, TheBoundedWalkFindsTheShowingPageOrRunsOutOfBudget)
{
    const AddressOutcome current = readUntil(AddressOutcome::url(url("big", "large")));
    ASSERT_EQ(current.kind, AddressOutcome::Kind::Url);

    // What an application without the Collection interface gets: a walk that skips hidden tabs.
    AtspiAccessibility::Options walking;
    walking.limits.walkOnly = true;
    walking.readBudget = 5s;  // the walk takes tens of milliseconds on a real page
    AtspiAccessibility walker(session->clock, session->desktop.sessionBus(), {}, walking);
    AddressOutcome walked;
    waitUntil(
        [&] {
            walked = walker.readAddress(session->pid);
            return walked == current;
        },
        20000, 200);
    EXPECT_EQ(walked, current);
    EXPECT_GT(walker.lastReadRequests(), 10) << "the walk is the expensive way";

    walking.limits.maxElements = 3;
    AtspiAccessibility starved(session->clock, session->desktop.sessionBus(), {}, walking);
    const AddressOutcome tooLarge = AddressOutcome::unreadable(AddressOutcome::pageTooLarge);
    AddressOutcome last;
    waitUntil(
        [&] {
            last = starved.readAddress(session->pid);
            return last == tooLarge;
        },
        20000, 200);
    EXPECT_EQ(last, tooLarge);
}

TEST_P(AtspiBrowserTest, AStoppedBrowserCostsOneTimeoutAndIsReadAgainAfterItsBackoff)
{
    const AddressOutcome current = readUntil(AddressOutcome::url(url("big", "large")));
    ASSERT_EQ(current.kind, AddressOutcome::Kind::Url);

    ASSERT_EQ(::kill(static_cast<pid_t>(session->pid), SIGSTOP), 0);
    QElapsedTimer timer;
    timer.start();
    const AddressOutcome stopped = session->reader->readAddress(session->pid);
    const qint64 stoppedMs = timer.elapsed();
    timer.restart();
    const AddressOutcome inBackoff = session->reader->readAddress(session->pid);
    const int backoffRequests = session->reader->lastReadRequests();
    ::kill(static_cast<pid_t>(session->pid), SIGCONT);

    EXPECT_EQ(stopped, noAddress);
    // One explicit timeout, not the bus's default of 25 s.
    EXPECT_LT(stoppedMs, 2000) << "a stopped browser held the read for " << stoppedMs << " ms";
    EXPECT_EQ(inBackoff, noAddress);
    EXPECT_EQ(backoffRequests, 0);

    // Read again once the back-off of a couple of seconds is over.
    EXPECT_EQ(readUntil(current), current);
}

TEST_P(AtspiBrowserTest, AnotherApplicationInFrontLeavesNoFocusedWindow)
{
    const AddressOutcome current = readUntil(AddressOutcome::url(url("big", "large")));
    ASSERT_EQ(current.kind, AddressOutcome::Kind::Url);
    qint64 terminal = 0;
    const QString window = session->desktop.openTerminal({"-T", "terminal in front"}, &terminal);
    ASSERT_FALSE(window.isEmpty()) << "xterm says: " << qPrintable(session->desktop.errorLog("xterm"));
    ASSERT_TRUE(session->desktop.activate(window)) << "front: " << qPrintable(session->desktop.activeWindowTitle());
    // The title the reader matches frames against is the window manager's, read straight from X.
    EXPECT_EQ(session->title->activeTitle(), QStringLiteral("terminal in front"));
    const AddressOutcome noWindow = AddressOutcome::unreadable(AddressOutcome::noFocusedWindow);
    EXPECT_EQ(readUntil(noWindow), noWindow);

    ::kill(static_cast<pid_t>(terminal), SIGTERM);
    EXPECT_EQ(readUntil(current), current);
}

INSTANTIATE_TEST_SUITE_P(Browsers, AtspiBrowserTest, ::testing::Values(Browser::Chromium, Browser::Firefox),
                         [](const ::testing::TestParamInfo<Browser> &param) {
                             return std::string(test::name(param.param));
                         });

}  // namespace
}  // namespace fennimar
