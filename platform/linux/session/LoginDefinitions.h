#pragma once

#include <QByteArray>
#include <QString>

namespace fennimar {

// The texts of the two start-at-login registrations (a systemd user unit, an XDG autostart entry)
// and the little reading of them that the status needs. Pure functions of their arguments.
namespace LoginDefinitions {

// The systemd user unit that starts executable in the graphical session and restarts it when it
// quits, except for the exit statuses a restart cannot mend. The path is quoted for systemd.
QByteArray unitFile(const QString &executable);
// The autostart entry for executable (quoted for the Exec key); hidden turns it off.
QByteArray autostartEntry(const QString &executable, bool hidden = false);

// The program that a unit's first ExecStart= line runs, unquoted; empty when there is none.
QString unitExecProgram(const QByteArray &unit);
// Whether program (absolute, or looked up in PATH) is an executable regular file. Touches the disk.
bool programExists(const QString &program);
// Whether both paths resolve to the same existing file.
bool sameProgram(const QString &a, const QString &b);

}  // namespace LoginDefinitions
}  // namespace fennimar
