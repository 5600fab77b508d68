// The AT-SPI reader against real Chromium and Firefox ESR on a private desktop.
#include "core/RealClock.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/x11/X11WindowTitle.h"
#include "tests/platform/linux/atspi/BrowserDesktop.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

namespace fennimar {

void PrintTo(const AddressOutcome &outcome, std::ostream *os)
{
    static const char *const kinds[] = {"url", "unreadable", "editing", "noPermission"};
    *os << kinds[static_cast<int>(outcome.kind)] << "(" << outcome.text.toStdString() << ")";
}

namespace {

using namespace test;

class AtspiBrowserTest : public ::testing::TestWithParam<Browser> {};

// One browser session: the selected tab, editing, navigating, a walk out of elements.
TEST_P(AtspiBrowserTest, ReadsTheShowingPageOfTheBrowserInFront)
{
    const QString program = test::program(GetParam());
    if (QStandardPaths::findExecutable(program).isEmpty())
        GTEST_SKIP() << qPrintable(program) << " is not installed: browser test NOT run";
    PageServer pages;
    const auto url = [&](const char *name) { return AddressOutcome::url(pages.url(name)); };
    DesktopSession desktop;
    QString failure = desktop.start(true);
    const qint64 pid = failure.isEmpty() ? launchBrowser(desktop, GetParam(), {pages.url("one"), pages.url("two")}) : 0;
    if (!pid)
        GTEST_SKIP() << "AT-SPI desktop or browser unavailable, test NOT run: " << qPrintable(failure);
    RealClock clock;  // browsers run in real time, and so do the reader's back-offs
    auto title = std::make_shared<atspi::X11WindowTitle>(desktop.display());
    AtspiAccessibility reader(clock, desktop.sessionBus(), [title] { return title->activeTitle(); });
    // Reads until the expected outcome comes or the time is up; a fresh page may take a few reads.
    const auto readUntil = [&](const AddressOutcome &expected, AtspiAccessibility &with, int ms = 20000) {
        AddressOutcome last;
        waitUntil([&] { return (last = with.readAddress(pid)) == expected; }, ms, 200);
        return last;
    };
    // A browser's first start on a cold machine takes far longer than a change of page.
    EXPECT_EQ(readUntil(url("one"), reader, 120000), url("one"));
    const struct {
        const char *keys, *typed;  // what the user does
        AddressOutcome expected;
    } steps[] = {
        {"ctrl+Prior", nullptr, url("two")},  // the other tab's document stays in the tree: not the answer
        {"ctrl+l", "three", AddressOutcome::editing()},
        {"Return", nullptr, url("three")},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.keys);
        ASSERT_TRUE(desktop.xdotool({"key", "--delay", "50", step.keys}));
        EXPECT_EQ(readUntil(step.expected, reader), step.expected);
        // Typed once the bar has the focus: a browser slow to move it would lose the first keys (and GNOME Web
        // selects the old address a moment after taking the focus).
        ASSERT_TRUE(!step.typed || (desktop.xdotool({"key", "ctrl+a"}) &&
                                    desktop.xdotool({"type", "--delay", "30", pages.url(step.typed)})));
    }
    // What an application without the Collection interface gets: a walk, here out of elements.
    AtspiAccessibility::Options walking;
    walking.limits.walkOnly = true;
    walking.limits.maxElements = 3;
    AtspiAccessibility starved(clock, desktop.sessionBus(), {}, walking);
    const AddressOutcome tooLarge = AddressOutcome::unreadable(AddressOutcome::pageTooLarge);
    EXPECT_EQ(readUntil(tooLarge, starved), tooLarge);
}

INSTANTIATE_TEST_SUITE_P(Browsers, AtspiBrowserTest,
                         ::testing::Values(Browser::Chromium, Browser::Firefox, Browser::Epiphany),
                         [](const auto &param) { return test::name(param.param); });

}  // namespace
}  // namespace fennimar
