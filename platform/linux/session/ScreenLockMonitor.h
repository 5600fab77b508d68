#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace fennimar {

// Whether the login session's screen is locked, kept current by D-Bus signals so that reading it
// costs nothing. Three sources: logind's session LockedHint (system bus), org.gnome.ScreenSaver
// and org.freedesktop.ScreenSaver (session bus). Any source that says locked wins, because some
// lockers never set logind's hint while others only set the hint. Every call is asynchronous,
// bounded by a short timeout and never starts a service that is not already running; a source
// that appears later is asked when it appears, one that vanishes stops counting. Main thread only.
class ScreenLockMonitor : public QObject {
    Q_OBJECT
public:
    // systemBus / sessionBus may be disconnected; that source then never reports a lock.
    // sessionId: logind's session id (XDG_SESSION_ID); empty asks logind for the user's display
    // session.
    ScreenLockMonitor(QDBusConnection systemBus, QDBusConnection sessionBus,
                      QString sessionId = qEnvironmentVariable("XDG_SESSION_ID"), QObject *parent = nullptr);

    // The cached answer: true when any source last said locked. false when unknown. Free.
    bool locked() const { return m_logind.locked || m_gnome.locked || m_freedesktop.locked; }

Q_SIGNALS:
    void lockedChanged(bool locked);

private Q_SLOTS:
    void onLogindProperties(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);
    void onGnomeActiveChanged(bool active);
    void onFreedesktopActiveChanged(bool active);

private:
    struct Source {
        bool locked = false;
    };
    void set(Source &source, bool locked);
    void queryLogind();
    void watchLogindSession(const QString &path);
    void queryLogindLockedHint();
    void queryScreenSaver(const QString &service, const QString &path, Source &source);

    QDBusConnection m_system;
    QDBusConnection m_session;
    QString m_sessionId;
    QString m_sessionPath;
    Source m_logind, m_gnome, m_freedesktop;
    bool m_lastReported = false;
};

}  // namespace fennimar
