// The inhibitor services of an Xfce-style session, for the accuracy benchmark's X11 day: on Xfce,
// LXQt, MATE and Cinnamon a daemon of the desktop owns org.freedesktop.ScreenSaver (browsers, SDL
// and the players call Inhibit there) and org.freedesktop.PowerManagement (Chromium's "Playing
// audio"), and lists its inhibitors to no one. This one owns both names on the session bus, answers
// Inhibit(app, reason) with a fresh cookie and UnInhibit(cookie) as xfce4-power-manager does (an
// unknown cookie is an error), drops a caller's cookies when it leaves the bus, and prints each call
// on standard output, so the day's log says what each program really sent.
//   fake_screensaver
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QTime>

#include <cstdio>
#include <map>

namespace {

const char *now()
{
    static QByteArray time;
    time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
    return time.constData();
}

struct Held {
    QString caller, app, reason;
};

// The cookies of one service, handed out from 1 up, never twice.
class Cookies {
public:
    Cookies(const char *service, QDBusServiceWatcher &watcher) : m_service(service), m_watcher(watcher)
    {
        QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &watcher, [this](const QString &caller) {
            for (auto it = m_held.begin(); it != m_held.end();)
                it = it->second.caller == caller ? (say("left", it->first, it->second), m_held.erase(it)) : ++it;
        });
    }
    uint inhibit(const QString &caller, const QString &app, const QString &reason)
    {
        m_watcher.addWatchedService(caller);
        m_held[++m_last] = {caller, app, reason};
        say("Inhibit", m_last, m_held[m_last]);
        return m_last;
    }
    bool uninhibit(const QString &caller, uint cookie)
    {
        const auto it = m_held.find(cookie);
        if (it == m_held.end()) {
            say("UnInhibit (unknown cookie)", cookie, {caller, {}, {}});
            return false;
        }
        say("UnInhibit", cookie, it->second);
        m_held.erase(it);
        return true;
    }

private:
    void say(const char *what, uint cookie, const Held &held)
    {
        std::printf("%s %s %s %u caller %s app \"%s\" reason \"%s\"\n", now(), m_service, what, cookie,
                    qPrintable(held.caller), qPrintable(held.app), qPrintable(held.reason));
        std::fflush(stdout);
    }

    const char *m_service;
    QDBusServiceWatcher &m_watcher;
    std::map<uint, Held> m_held;
    uint m_last = 0;
};

// The two interfaces differ only in name; QDBusContext gives each call's sender.
class ScreenSaver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    explicit ScreenSaver(QDBusServiceWatcher &watcher) : m_cookies("ScreenSaver", watcher) {}
public Q_SLOTS:
    uint Inhibit(const QString &app, const QString &reason)
    {
        return m_cookies.inhibit(message().service(), app, reason);
    }
    void UnInhibit(uint cookie)
    {
        if (!m_cookies.uninhibit(message().service(), cookie))
            sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("Invalid cookie"));
    }

private:
    Cookies m_cookies;
};

class PowerManagement : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.PowerManagement.Inhibit")
public:
    explicit PowerManagement(QDBusServiceWatcher &watcher) : m_cookies("PowerManagement", watcher) {}
public Q_SLOTS:
    uint Inhibit(const QString &app, const QString &reason)
    {
        return m_cookies.inhibit(message().service(), app, reason);
    }
    void UnInhibit(uint cookie)
    {
        if (!m_cookies.uninhibit(message().service(), cookie))
            sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("Invalid cookie"));
    }

private:
    Cookies m_cookies;
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusServiceWatcher watcher({}, bus, QDBusServiceWatcher::WatchForUnregistration);
    ScreenSaver screenSaver(watcher);
    PowerManagement power(watcher);
    // Chromium and SDL call the long path, Firefox the short one; the service answers on both.
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &screenSaver,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerObject(QStringLiteral("/ScreenSaver"), &screenSaver, QDBusConnection::ExportAllSlots) ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/PowerManagement/Inhibit"), &power,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")) ||
        !bus.registerService(QStringLiteral("org.freedesktop.PowerManagement"))) {
        std::fprintf(stderr, "fake_screensaver: cannot serve on the session bus\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "FakeScreenSaver.moc"
