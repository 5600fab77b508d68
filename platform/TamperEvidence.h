#pragma once

#include <QMap>
#include <QString>

namespace fennimar {

// What the session did that looks like someone making the agent count nothing, or the wrong thing,
// while it still looks healthy: a screen lock claimed by a program that is not the desktop's, a
// rewritten active window, a foreign holder of the agent's own name, a replaced desktop script.
// The child can always stop the agent outright (the parent then sees the heartbeat stop); this
// record is what makes the quiet ways visible to the parent through the heartbeat.
//
// One object per agent, built by the composition root and shared by whoever watches a source.
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
    // true when nothing was raised or noted since the previous call and nothing stands now; the
    // heartbeat's "tamper_evidence" check. Each call starts a new period.
    bool takeClean();

private:
    QMap<QString, QString> m_standing;
    bool m_seen = false;
};

}  // namespace fennimar
