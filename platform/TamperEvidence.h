#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <utility>

namespace fennimar {

// What the session did that looks like someone making the agent count nothing, or the wrong thing,
// while it still looks healthy: a screen lock claimed by a program that is not the desktop's, a
// rewritten active window, a foreign holder of the agent's own name, a replaced desktop script.
// The child can always stop the agent outright (the parent then sees the heartbeat stop); this
// record is what makes the quiet ways visible to the parent through the heartbeat.
//
// One object per agent: Platform::tamper, made with the platform and handed (as a shared_ptr) by
// createPlatform to every part that watches a source (the screen lock, the X11 desktop; a Wayland
// source raises into the same object). The heartbeat reads seenCount() and standing() for its
// "tamper_evidence" check; a standing problem that stops measuring is also the desktop's
// samplingProblem(), so that the menu and "foreground_sampling" say it too.
// Main thread only; every method is free (no I/O besides one log line on a change).
class TamperEvidence {
public:
    // A standing problem of `source` (a short stable key such as "screen lock"), until clear().
    // Logs one WARN when the reason is new or different; repeating the same reason costs nothing.
    void raise(const QString &source, const QString &reason);
    // The source's problem is gone (logged once when there was one).
    void clear(const QString &source);
    // A one-time event (no standing state): it counts in the next heartbeat. Logs one WARN.
    void note(const QString &reason);

    // The standing problems, "; "-joined in source order; empty when there are none.
    QString standing() const;
    // How many problems were raised (a new or changed reason) or noted so far. The heartbeat
    // remembers the count it last delivered: evidence was seen since then when the count grew or a
    // problem still stands.
    quint64 seenCount() const { return m_seen; }

    // What was raised or noted ("source · reason", or the note) and not yet carried by a heartbeat
    // the backend acknowledged, oldest first; at most the latest maxUndelivered. Kept in the run
    // record, so that a restart before the next heartbeat does not wipe it.
    QStringList undelivered() const;
    static constexpr int maxUndelivered = 20;
    // A heartbeat sent when seenCount() was `count` was acknowledged: what it carried is delivered.
    void delivered(quint64 count);
    // Called after every change of undelivered() (the run record keeps it); null for none.
    std::function<void()> onUndeliveredChanged;

private:
    void remember(QString what);

    QMap<QString, QString> m_standing;
    quint64 m_seen = 0;
    std::deque<std::pair<quint64, QString>> m_undelivered;  // seenCount() when each was raised
};

}  // namespace fennimar
