#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace fennimar {

// Whether the previous run of the agent ended with a clean quit or without one, so that support
// can tell a kill from a logout, and the tamper evidence no acknowledged heartbeat has carried yet,
// so that a restart does not wipe it. A logout, the user's Quit and a stop by the service manager
// all reach the agent's quit handler and end cleanly; SIGKILL, a crash or a power cut do not. The
// record is a small file "run-state" in the support directory, apart from the ledger so that
// neither can spoil the other: "running since <time>" from start to a clean quit, then
// "quit <time>"; each piece of evidence on a line "evidence <text>" below.
class RunMarker {
public:
    static constexpr qint64 maxBytes = 16 * 1024;

    // directory: the support directory.
    explicit RunMarker(const QString &directory);

    // Reads what the previous run left, logs (WARN) when it ended without a clean quit, and marks
    // this run as running. Answers whether the previous run ended without a clean quit; such an end
    // is kept as undelivered evidence too (a kill is how a child stops the counting for a while).
    // A record that cannot be read (a FIFO, a link, garbage, over maxBytes) counts as no record and
    // is logged; one that cannot be written is logged. One small non-blocking read and one synced
    // write.
    bool begin(const QDateTime &now);

    // Marks a clean quit, keeping the undelivered evidence. One synced write; a failure is logged.
    void end(const QDateTime &now);

    // The evidence no acknowledged heartbeat carried: what begin() found and added, later what
    // keep() was given.
    const QStringList &undelivered() const { return m_undelivered; }
    // Replaces the undelivered evidence; one synced write when it changed, a failure logged.
    void keep(const QStringList &evidence);

private:
    void write() const;

    QString m_path;
    QByteArray m_state;  // the first line, without its line feed
    QStringList m_undelivered;
};

}  // namespace fennimar
