#pragma once

#include "core/Clock.h"
#include "platform/TamperEvidence.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

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
// says locked still counts as locked. A lock claimed while input keeps arriving for a minute is
// not believed either and is reported the same way. A session logind says is not active (another
// user switched in) counts as locked at once.
//
// Every call is asynchronous, bounded by a short timeout and never starts a service that is not
// already running; a source that appears later is asked when it appears, one that vanishes stops
// counting. Main thread only.
class ScreenLockMonitor : public QObject {
    Q_OBJECT
public:
    // Whether the executable (the target of /proc/<pid>/exe) is one of the desktop's own programs
    // that may own a screen-saver name: a known name, in a file owned by root. The one list of them.
    static bool isDesktopProgram(const QString &executable);
    using OwnerCheck = std::function<bool(const QString &executable)>;

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

    // Empty while every source can be believed; otherwise one sentence for the menu saying which
    // cannot. Free.
    QString problem() const;

    // Input this recent counts as "arriving"; a lock with input arriving this long, with no quiet
    // stretch of kQuietResets in between, is not believed.
    static constexpr double kRecentInputSeconds = 5.0;
    static constexpr Millis kInputWhileLockedLimit{60000};
    static constexpr Millis kQuietResets{30000};

Q_SIGNALS:
    void lockedChanged(bool locked);

private Q_SLOTS:
    void onLogindProperties(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);
    void onGnomeActiveChanged(bool active);
    void onFreedesktopActiveChanged(bool active);

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
    std::optional<Millis> m_inputSince;  // first input of the current stretch while locked
    Millis m_lastInput{0};
    bool m_claimDisbelieved = false;
    bool m_lastReported = false;
};

}  // namespace fennimar
