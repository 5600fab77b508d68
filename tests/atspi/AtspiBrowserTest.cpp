// The AT-SPI reader against real Chromium and Firefox ESR on a private desktop.
#include "platform/RealClock.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/atspi/X11WindowTitle.h"
#include "tests/support/DesktopSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <csignal>
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
using test::DesktopSession;
using test::waitUntil;

const AddressOutcome noAddress = AddressOutcome::unreadable(AddressOutcome::noAddressFound);

// Serves /small/<name> (a few elements, title <name>) and /large/<name> (about 9,000 elements).
class PageServer : public QTcpServer {
public:
    PageServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }

private:
    static void serve(QTcpSocket *socket)
    {
        const QList<QByteArray> words = socket->readAll().split(' ');
        const QByteArray path = words.size() > 1 ? words[1] : QByteArray();
        const QByteArray title = path.mid(path.lastIndexOf('/') + 1);
        QByteArray body = "<!doctype html><html><head><title>" + title + "</title></head><body><h1>" + title +
                          "</h1><input type=text>";
        for (int i = 0; path.startsWith("/large/") && i < 3000; ++i)
            body += "<p>Paragraph " + QByteArray::number(i) + " <a href=#" + QByteArray::number(i) + ">link</a></p>";
        body += "</body></html>";
        socket->write("HTTP/1.1 " + QByteArray(path.endsWith("favicon.ico") ? "404" : "200") +
                      " OK\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

enum class Browser { Chromium, Firefox };

// Starts the browser with one tab per page, in a fresh profile with its first-run screens off; its pid, or 0.
qint64 launchBrowser(DesktopSession &desktop, Browser browser, const QStringList &urls)
{
    const QString profile = QDir(desktop.home()).filePath(QStringLiteral("profile"));
    QDir().mkpath(profile);
    QProcess *process = nullptr;
    if (browser == Browser::Chromium) {
        const QStringList args = QStringLiteral(
                                     "--no-sandbox --disable-gpu --no-first-run --no-default-browser-check "
                                     "--disable-background-networking --disable-component-update "
                                     "--disable-sync --password-store=basic --window-size=1200,800")
                                     .split(QLatin1Char(' ')) +
                                 QStringList{QStringLiteral("--user-data-dir=") + profile};
        process = desktop.spawn(QStringLiteral("chromium"), args + urls);
    } else {
        QFile prefs(profile + QStringLiteral("/user.js"));
        if (prefs.open(QIODevice::WriteOnly))
            for (const char *pref :
                 {"browser.shell.checkDefaultBrowser\", false",
                  "browser.startup.homepage_override.mstone\", \"ignore\"",
                  "datareporting.policy.dataSubmissionEnabled\", false",
                  "toolkit.telemetry.reportingpolicy.firstRun\", false", "browser.aboutwelcome.enabled\", false",
                  "app.update.disabledForTesting\", true", "browser.tabs.warnOnClose\", false",
                  "browser.sessionstore.resume_from_crash\", false", "trailhead.firstrun.didSeeAboutWelcome\", true",
                  "browser.newtabpage.enabled\", false"})
                prefs.write(QByteArray("user_pref(\"") + pref + ");\n");
        prefs.close();
        QProcessEnvironment env = desktop.environment();
        env.insert(QStringLiteral("MOZ_CRASHREPORTER_DISABLE"), QStringLiteral("1"));
        process = desktop.spawn(QStringLiteral("firefox-esr"),
                                QStringList{"--no-remote", "--new-instance", "--profile", profile} + urls, env);
    }
    return process ? process->processId() : 0;
}

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
            if (slot->failure.isEmpty() &&
                !(slot->pid = launchBrowser(slot->desktop, GetParam(), {url("one"), url("two")})))
                slot->failure = QStringLiteral("the browser did not start");
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

    // Reads with `reader` (the session's by default) until the expected outcome comes or 20 s pass;
    // returns the last outcome. A fresh page or a just-woken browser may take a few reads.
    AddressOutcome readUntil(const AddressOutcome &expected, AtspiAccessibility *reader = nullptr)
    {
        AddressOutcome last;
        waitUntil(
            [&] { return (last = (reader ? reader : session->reader.get())->readAddress(session->pid)) == expected; },
            20000, 200);
        return last;
    }
    AddressOutcome readUntil(const QString &address, AtspiAccessibility *reader = nullptr)
    {
        return readUntil(AddressOutcome::url(address), reader);
    }

    bool keys(const QString &keys) { return session->desktop.xdotool({"key", "--delay", "50", keys}); }
    bool go(const QString &address)
    {
        return keys("ctrl+l") && session->desktop.xdotool({"type", "--delay", "20", address}) && keys("Return");
    }

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
    EXPECT_EQ(readUntil(url("one")), AddressOutcome::url(url("one")));
    // A reader meeting the running browser for the first time wakes it; the first read may miss.
    AtspiAccessibility fresh(session->clock, session->desktop.sessionBus());
    EXPECT_EQ(readUntil(url("one"), &fresh), AddressOutcome::url(url("one")));

    // The other tab's document stays in the tree; only the showing one is the answer.
    ASSERT_TRUE(keys("ctrl+Next"));
    EXPECT_EQ(readUntil(url("two")), AddressOutcome::url(url("two")));

    ASSERT_TRUE(keys("ctrl+l"));
    ASSERT_TRUE(session->desktop.xdotool({"type", "--delay", "30", url("three")}));
    EXPECT_EQ(readUntil(AddressOutcome::editing()), AddressOutcome::editing());
    ASSERT_TRUE(keys("Return"));
    EXPECT_EQ(readUntil(url("three")), AddressOutcome::url(url("three")));
    // The document navigated away from may linger; it is never the answer again. A read that runs
    // out of its time budget on a loaded machine finds no address, which is not a wrong answer.
    for (int i = 0; i < 5; ++i) {
        const AddressOutcome again = session->reader->readAddress(session->pid);
        EXPECT_TRUE(again == AddressOutcome::url(url("three")) || again == noAddress) << qPrintable(again.text);
    }
}

TEST_P(AtspiBrowserTest, ALargePageIsReadAndTheBoundedWalkFindsItOrRunsOutOfElements)
{
    ASSERT_TRUE(go(url("big", "large")));
    const AddressOutcome current = AddressOutcome::url(url("big", "large"));
    EXPECT_EQ(readUntil(current), current);

    // What an application without the Collection interface gets: a walk that skips hidden tabs.
    AtspiAccessibility::Options walking;
    walking.limits.walkOnly = true;
    walking.readBudget = 5s;  // the walk takes tens of milliseconds on a real page
    AtspiAccessibility walker(session->clock, session->desktop.sessionBus(), {}, walking);
    EXPECT_EQ(readUntil(current, &walker), current);
    EXPECT_GT(walker.lastReadRequests(), 10) << "the walk is the expensive way";

    walking.limits.maxElements = 3;
    AtspiAccessibility starved(session->clock, session->desktop.sessionBus(), {}, walking);
    const AddressOutcome tooLarge = AddressOutcome::unreadable(AddressOutcome::pageTooLarge);
    EXPECT_EQ(readUntil(tooLarge, &starved), tooLarge);
}

TEST_P(AtspiBrowserTest, AStoppedBrowserCostsOneTimeoutAndIsReadAgainAfterItsBackoff)
{
    const AddressOutcome current = AddressOutcome::url(url("big", "large"));
    ASSERT_EQ(readUntil(current), current);
    ASSERT_EQ(::kill(static_cast<pid_t>(session->pid), SIGSTOP), 0);
    QElapsedTimer timer;
    timer.start();
    const AddressOutcome stopped = session->reader->readAddress(session->pid);
    const qint64 stoppedMs = timer.elapsed();
    const AddressOutcome inBackoff = session->reader->readAddress(session->pid);
    const int backoffRequests = session->reader->lastReadRequests();
    ::kill(static_cast<pid_t>(session->pid), SIGCONT);

    EXPECT_EQ(stopped, noAddress);
    EXPECT_LT(stoppedMs, 2000) << "one explicit timeout, not the bus's default of 25 s";
    EXPECT_EQ(inBackoff, noAddress);
    EXPECT_EQ(backoffRequests, 0);
    EXPECT_EQ(readUntil(current), current);  // once the back-off of a couple of seconds is over
}

TEST_P(AtspiBrowserTest, AnotherApplicationInFrontLeavesNoFocusedWindow)
{
    const AddressOutcome current = AddressOutcome::url(url("big", "large"));
    ASSERT_EQ(readUntil(current), current);
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
                         [](const auto &param) { return param.param == Browser::Chromium ? "Chromium" : "Firefox"; });

}  // namespace
}  // namespace fennimar
