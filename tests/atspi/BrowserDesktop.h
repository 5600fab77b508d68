#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace fennimar::test {

// Serves generated pages on loopback: /small/<name> (a few elements, title <name>) and
// /large/<name> (about 9,000 elements). Answers from the event loop of the thread that owns it.
class PageServer : public QObject {
public:
    PageServer();
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &path) const;

private:
    void serve(QTcpSocket *socket);
    QTcpServer m_server;
};

// A private X display, session bus and accessibility bus, with a window manager, in which browsers
// run exactly as they would on a desktop where accessibility is turned on. Every process it starts
// runs in its own process group and is killed with it; HOME and the XDG directories point into a
// temporary directory so nothing touches the real user's settings.
class BrowserDesktop {
public:
    enum class Browser { Chromium, Firefox };

    BrowserDesktop();
    ~BrowserDesktop();

    enum class Accessibility {
        Absent,  // the session bus cannot start an accessibility bus (at-spi2-core missing)
        Off,     // the accessibility bus runs, the desktop's accessibility support is off
        On,
    };

    // Empty when ready; otherwise why not (a missing tool, a peer that did not start).
    QString start(Accessibility accessibility = Accessibility::On);
    QString missingTool() const;

    QDBusConnection sessionBus() const;
    QString sessionBusAddress() const { return m_busAddress; }
    QString display() const { return m_display; }

    // Starts a browser on the given pages (one tab each) and returns its process id, or 0.
    qint64 launch(Browser browser, const QStringList &urls);
    // Starts an xterm (a non-browser window that takes the focus) and returns its process id, or 0.
    qint64 launchTerminal();

    // xdotool with the desktop's display; true on success. Bounded by a few seconds.
    bool xdotool(const QStringList &args);
    QString activeWindowTitle();
    bool setAccessibility(bool on);
    // What a program started here wrote to its standard error (for failure messages).
    QString errorLog(const QString &program) const;

    // Polls fn (with the event loop running in between) until it returns true or the time is up.
    static bool waitUntil(const std::function<bool()> &fn, std::chrono::milliseconds timeout,
                          std::chrono::milliseconds step = std::chrono::milliseconds(200));

    static const char *name(Browser browser) { return browser == Browser::Chromium ? "Chromium" : "Firefox"; }

private:
    QProcess *spawn(const QString &program, const QStringList &args, QProcessEnvironment env = {});
    QProcessEnvironment environment() const;

    QTemporaryDir m_home;
    QString m_display;
    QString m_busAddress;
    QString m_connectionName;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

}  // namespace fennimar::test
