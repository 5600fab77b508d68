#pragma once

#include "core/Clock.h"
#include "platform/TamperEvidence.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace fennimar {

// Whether the login session's screen is locked or switched out, kept current by D-Bus signals so
// that reading it costs nothing. Sources: logind's session (system bus) with its LockedHint and
// Active properties, and org.gnome.ScreenSaver and org.freedesktop.ScreenSaver (session bus).
//
// Any program of the session can own a free screen-saver name and answer "locked", which would
// make the agent count nothing. So logind's hint is always read, and a screen-saver name is
// believed only while its owner (its pid from the bus daemon) runs one of the desktop's own
// programs (isDesktopProgram); an owner that does not is reported (problem(), the tamper evidence)
// and its answers ignored. Some lockers never set logind's hint, so a believed screen saver that
// says locked still counts as locked. A lock claimed while input keeps arriving for a minute in
// ten (the claim dropped now and then or not) is not believed either and is reported the same way.
// A session logind says is not active (another user switched in) counts as locked at once; when
// the seat's session in front is this same user's (logged in again on another console, where no
// copy of the agent counts: it defers to this one), that is reported too.
//
// Every call is asynchronous, bounded by a short timeout and never starts a service that is not
// already running; a source that appears later is asked when it appears, one that vanishes stops
// counting. Main thread only.
class ScreenLockMonitor : public QObject {
    Q_OBJECT
public:
    // Whether the process pid runs one of the desktop's own programs that may own a screen-saver
    // name: a known name, and the very root-owned file its /proc/<pid>/exe reads as (device and
    // inode, not the path, which a mount in a user namespace can lend to a copy). The one list of them.
    static bool isDesktopProgram(qint64 pid);
    using OwnerCheck = std::function<bool(qint64 pid)>;

    // The Type logind gives the user's display session ("wayland", "x11", "tty" ...); nothing when
    // logind does not answer. XDG_SESSION_TYPE and WAYLAND_DISPLAY are the measured user's to set (a
    // unit drop-in could make a Wayland session look like X11, where only Xwayland's windows show);
    // logind's answer is the system's. Two blocking calls of at most 500 ms each.
    static std::optional<QString> sessionType(const QDBusConnection &systemBus);

    // systemBus / sessionBus may be disconnected; that source then never reports a lock.
    // sessionId: logind's session id (XDG_SESSION_ID); empty asks logind for the user's display
    // session. evidence, when given, receives every untrusted source while it stands.
    ScreenLockMonitor(QDBusConnection systemBus, QDBusConnection sessionBus,
                      QString sessionId = qEnvironmentVariable("XDG_SESSION_ID"),
                      std::shared_ptr<TamperEvidence> evidence = {}, OwnerCheck trusted = isDesktopProgram,
                      QObject *parent = nullptr);

    // The cached answer: true when the session is switched out, or a believed source last said
    // locked. false when unknown. Free.
    bool locked() const;

    // The desktop calls this on each tick while locked() with the time since input, so that a lock
    // claimed while someone keeps typing is found out. Free.
    void noteInput(Millis monotonic, std::optional<double> secondsSinceInput);

    // Empty while every source can be believed and no session of this user's counts nothing in
    // front; otherwise one sentence for the menu saying which. Free.
    QString problem() const;

    // Input this recent counts as "arriving". A lock claimed while input arrived on
    // kInputWhileLockedLimit ticks within the last kInputWindow is not believed, however often the
    // claim dropped in between: someone unlocking types a password for seconds, a few times an hour.
    static constexpr double kRecentInputSeconds = 5.0;
    static constexpr int kInputWhileLockedLimit = 60;
    static constexpr Millis kInputWindow{10 * 60 * 1000};

Q_SIGNALS:
    void lockedChanged(bool locked);

private Q_SLOTS:
    void onLogindProperties(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);
    void onGnomeActiveChanged(bool active);
    void onFreedesktopActiveChanged(bool active);
    void onSeatProperties(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);

private:
    struct Saver {
        QString service, path;
        bool locked = false;
        bool trusted = false;
        QString untrusted;  // why its owner is not believed; empty when it is or there is none
    };
    void changed();
    void setSaver(Saver &saver, bool locked);
    void saverPresent(Saver &saver, bool present);
    void checkOwner(Saver &saver);
    void queryLogind();
    void watchLogindSession(const QString &path);
    void queryLogindSession();
    void takeLogind(const QVariantMap &properties);
    void checkSeat();
    bool claimed() const { return m_logindLocked || m_gnome.locked || m_freedesktop.locked; }

    QDBusConnection m_system;
    QDBusConnection m_session;
    QString m_sessionId;
    QString m_sessionPath;
    std::shared_ptr<TamperEvidence> m_evidence;
    OwnerCheck m_trusted;
    bool m_logindLocked = false;
    bool m_logindActive = true;  // unknown counts as active
    Saver m_gnome, m_freedesktop;
    std::deque<Millis> m_inputTicks;  // ticks with input arriving under a claimed lock, oldest first
    QString m_seatPath;               // our session's seat, whose front session is read when ours is not
    QString m_otherSession;           // why this user's other session in front counts nothing; empty when not
    bool m_claimDisbelieved = false;
    bool m_lastReported = false;
};

}  // namespace fennimar
