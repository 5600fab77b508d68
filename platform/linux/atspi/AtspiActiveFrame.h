#pragma once

#include "core/Clock.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace fennimar::atspi {

// The application in front as the accessibility bus sees it: the one whose top-level window has
// the state ACTIVE, with its pid from the bus daemon (GetConnectionUnixProcessID of its bus name).
// It works on any compositor, but sees only applications that publish an accessibility tree (GTK,
// Firefox, Chromium...); terminals such as foot and xterm, SDL games, Wine and Java without its
// bridge never have an ACTIVE window, so while one of them is in front nothing is.
//
// Nothing here blocks except finding the bus at construction (one session-bus call, bounded by
// callTimeout). A window:activate event moves the answer at once; it and window:deactivate start
// a poll shortly after (confirmAfter) that confirms or corrects it, because events get lost
// (Firefox missed one in four); a poll also runs when the last one is older than refreshEvery. A
// poll is a round of asynchronous calls answered on the event loop, three levels deep (the
// applications, their windows, their states), each call bounded by callTimeout: an application
// that hangs delays the round, never the caller. Main thread only.
class AtspiActiveFrame : public QObject {
    Q_OBJECT
public:
    struct Options {
        Millis callTimeout{500};
        Millis refreshEvery{2000};
        Millis confirmAfter{100};  // ACTIVE follows the event by up to 60 ms
        int maxApps = 200;         // a round looks at no more applications...
        int maxWindows = 50;       // ...nor top-level windows per application than this
    };
    struct Front {
        QString busName;
        qint64 pid = 0;
    };
    enum class Status {
        Unknown,      // no poll has finished yet
        Unreachable,  // no accessibility bus, or its registry does not answer
        Disabled,     // the desktop's accessibility support is off: most apps publish no tree
        Working,
    };

    AtspiActiveFrame(Clock &clock, QDBusConnection sessionBus, Options options);
    ~AtspiActiveFrame() override;
    AtspiActiveFrame(const AtspiActiveFrame &) = delete;
    AtspiActiveFrame &operator=(const AtspiActiveFrame &) = delete;

    // Whether the accessibility bus was reached at construction.
    bool connected() const { return m_connected; }

    // The application with the ACTIVE window and a known pid, from memory; nothing when no
    // accessible application is in front, or it is not known yet. Starts a poll (a few microseconds
    // to send one message) when the last one is older than refreshEvery.
    std::optional<Front> front();

    // What the last poll found out about the bus; Unreachable when the bus was not found.
    Status status() const { return m_status; }

    // Starts a poll now unless one is under way (then another follows it).
    void refresh();
    bool polling() const { return m_roundPending > 0; }
    // The requests of the last finished poll (for benchmarks).
    int lastPollRequests() const { return m_lastRoundRequests; }

private Q_SLOTS:
    void windowEvent(const QDBusMessage &message);

private:
    using Handler = std::function<void(const QDBusMessage &)>;
    void send(QDBusConnection connection, const QString &service, const QString &path, const QString &interface,
              const QString &method, const QList<QVariant> &args, Handler handler, bool partOfRound = true);
    void askPid(const QString &busName, bool partOfRound);
    void askWindows(const QString &busName, const QString &path);
    void finishRound();

    Clock &m_clock;
    QDBusConnection m_session;
    Options m_options;
    QString m_connectionName;
    bool m_connected = false;
    std::unique_ptr<QObject> m_context;  // owns pending calls; replies after destruction go nowhere
    QTimer m_confirm;

    Status m_status = Status::Unknown;
    std::optional<QString> m_current;  // the bus name of the application in front
    std::map<QString, qint64> m_pids;
    QSet<QString> m_woken;
    quint64 m_eventSeq = 0;

    // The poll under way.
    int m_roundPending = 0;
    bool m_again = false;
    bool m_registryAnswered = false;
    bool m_enabled = false;
    quint64 m_roundEventSeq = 0;
    Millis m_roundStartedAt{0};
    bool m_polledOnce = false;
    QSet<QString> m_roundApps, m_roundActive;
    int m_roundRequests = 0, m_lastRoundRequests = 0;
};

}  // namespace fennimar::atspi
