#include "platform/VirtualClock.h"
#include "platform/linux/DesktopEntryCatalog.h"
#include "platform/linux/X11Desktop.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace fennimar::test {
namespace {

void writeEntry(const QString &dir, const QString &id, const QByteArray &body)
{
    QDir().mkpath(dir + QStringLiteral("/applications"));
    QFile file(dir + QStringLiteral("/applications/") + id + QStringLiteral(".desktop"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\n" + body);
}

class X11DesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = x.start(); !why.isEmpty())
            GTEST_SKIP() << "SKIPPED: " << why.toStdString();
        writeEntry(data.path(), QStringLiteral("debian-xterm"),
                   "Name=XTerm\nName[de]=X-Terminal\nExec=xterm-elsewhere\nStartupWMClass=XTerm\n");
        writeEntry(data.path(), QStringLiteral("fennitest"), "Name=Fenni Test\nExec=fennitest\nCategories=Game;\n");
        writeEntry(data.path(), QStringLiteral("myterm"), "Name=My Terminal\nExec=xterm -e top\n");
        catalog = std::make_unique<DesktopEntryCatalog>(
            DesktopEntryCatalog::Options{{data.path()}, {}, EntryLocale::fromPosix(QStringLiteral("de_DE.UTF-8"))});
        desktop = std::make_unique<X11Desktop>(clock, *catalog, nullptr, x.display());
    }

    // Opens an xterm with this WM_CLASS and returns its window id once it is mapped.
    QString openWindow(const QString &instance, const QString &wmClass, qint64 *pid)
    {
        return x.openTerminal({QStringLiteral("-name"), instance, QStringLiteral("-class"), wmClass}, pid);
    }

    // The tests' own X server is the session, even when they run inside a Wayland desktop.
    ScopedEnv noWayland{"WAYLAND_DISPLAY", ""};
    ScopedEnv x11Session{"XDG_SESSION_TYPE", "x11"};
    DesktopSession x;
    QTemporaryDir data;
    VirtualClock clock;
    std::unique_ptr<DesktopEntryCatalog> catalog;
    std::unique_ptr<X11Desktop> desktop;
};

TEST_F(X11DesktopTest, SwitchingWindowsChangesTheFrontmostApp)
{
    struct Case {
        QString instance, wmClass, id, name;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("fen1"), QStringLiteral("XTerm"), QStringLiteral("debian-xterm"), QStringLiteral("X-Terminal")},
        {QStringLiteral("fen2"), QStringLiteral("Fennitest"), QStringLiteral("fennitest"),
         QStringLiteral("Fenni Test")},
        // No class matches: the executable is xterm, which only myterm's Exec names.
        {QStringLiteral("fen3"), QStringLiteral("Nomatch"), QStringLiteral("myterm"), QStringLiteral("My Terminal")},
    };
    std::vector<std::pair<QString, qint64>> windows;
    for (const Case &c : cases) {
        qint64 pid = 0;
        windows.emplace_back(openWindow(c.instance, c.wmClass, &pid), pid);
        ASSERT_FALSE(windows.back().first.isEmpty()) << c.instance.toStdString();
    }
    // Twice round, so that returning to a window already seen is followed as well.
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < cases.size(); ++i) {
            ASSERT_TRUE(x.activate(windows[i].first));
            std::optional<RunningApp> app;
            EXPECT_TRUE(waitUntil(
                [&] {
                    app = desktop->frontmostApp();
                    return app && app->identifier == cases[i].id;
                },
                10000))
                << cases[i].id.toStdString() << " got " << (app ? app->identifier.toStdString() : "nothing");
            ASSERT_TRUE(app);
            EXPECT_EQ(app->displayName, cases[i].name);
            EXPECT_EQ(app->pid, windows[i].second);
            EXPECT_EQ(app->location,
                      data.path() + QStringLiteral("/applications/") + cases[i].id + QStringLiteral(".desktop"));
        }
    }
}

TEST_F(X11DesktopTest, IdleTimeFollowsRealInput)
{
    ASSERT_TRUE(x.xdotool({QStringLiteral("mousemove"), QStringLiteral("10"), QStringLiteral("20")}));
    EXPECT_LT(desktop->secondsSinceInput().value_or(99), 1.0);
    EXPECT_TRUE(waitUntil([&] { return desktop->secondsSinceInput().value_or(0) >= 1.2; }, 5000));
    ASSERT_TRUE(x.xdotool({QStringLiteral("mousemove"), QStringLiteral("200"), QStringLiteral("100")}));
    EXPECT_LT(desktop->secondsSinceInput().value_or(99), 1.0);
}

TEST_F(X11DesktopTest, LostServerGivesNothingThenReconnectsOnTheClock)
{
    qint64 pid = 0;
    openWindow(QStringLiteral("fen1"), QStringLiteral("XTerm"), &pid);
    ASSERT_TRUE(waitUntil([&] { return desktop->frontmostApp().has_value(); }));

    x.killServer();
    EXPECT_FALSE(waitUntil([&] { return desktop->frontmostApp().has_value(); }, 300));
    // Unknown, never a made-up 0 that would look like fresh input.
    EXPECT_EQ(desktop->secondsSinceInput(), std::nullopt);
    EXPECT_EQ(desktop->samplingProblem(), QStringLiteral("no display connection"));

    ASSERT_TRUE(x.restartServer());
    QThread::msleep(200);
    // Nothing is tried before the back-off has passed on the clock; afterwards the new server answers.
    EXPECT_EQ(desktop->secondsSinceInput(), std::nullopt);
    clock.advance(Millis(1000));
    EXPECT_GT(desktop->secondsSinceInput().value_or(-1), 0);
    EXPECT_EQ(desktop->samplingProblem(), QString());
}

TEST_F(X11DesktopTest, WaylandSessionReportsNoFrontmostApp)
{
    ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
    qint64 pid = 0;
    openWindow(QStringLiteral("fen1"), QStringLiteral("XTerm"), &pid);
    X11Desktop onWayland(clock, *catalog, nullptr, x.display());
    QThread::msleep(100);
    EXPECT_FALSE(onWayland.frontmostApp());
    EXPECT_EQ(onWayland.samplingProblem(),
              QStringLiteral("this Wayland session offers no way to see the focused window"));
}

}  // namespace
}  // namespace fennimar::test
