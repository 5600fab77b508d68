#pragma once

#include <QDateTime>
#include <QString>

namespace fennimar {

// Whether the previous run of the agent ended with a clean quit or without one, so that support
// can tell a kill from a logout. A logout, the user's Quit and a stop by the service manager all
// reach the agent's quit handler and end cleanly; SIGKILL, a crash or a power cut do not. The
// record is a small file "run-state" in the support directory, apart from the ledger so that
// neither can spoil the other: "running since <time>" from start to a clean quit, then
// "quit <time>".
class RunMarker {
public:
    // directory: the support directory.
    explicit RunMarker(const QString &directory);

    // Reads what the previous run left, logs (WARN) when it ended without a clean quit, and marks
    // this run as running. Answers whether the previous run ended without a clean quit. A record
    // that cannot be read (a FIFO, a link, garbage) counts as no record and is logged; one that
    // cannot be written is logged. One small non-blocking read and one synced write.
    bool begin(const QDateTime &now);

    // Marks a clean quit. One synced write; a failure is logged.
    void end(const QDateTime &now);

private:
    QString m_path;
};

}  // namespace fennimar
