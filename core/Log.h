#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>

namespace fennimar {

// The agent's one log facility. Every line goes synchronously to standard error on the caller's
// thread, and is appended to "Fennimar.log" by one background thread in submission order. Callable
// from any thread; never fails and never blocks on the file.
namespace Log {

enum class Level { Info, Warn, Error };

// Writes "[fennimar HH:mm:ss LEVEL] message\n" (local time; LEVEL is "INFO ", "WARN " or "ERROR").
void emit(Level level, const QString &message);
inline void info(const QString &message)
{
    emit(Level::Info, message);
}
inline void warn(const QString &message)
{
    emit(Level::Warn, message);
}
inline void error(const QString &message)
{
    emit(Level::Error, message);
}

// The text with every control character written out ("\n", "\r", "\t", other C0 and C1 controls
// and DEL as "\xNN"), so that text from outside (a backend's error body) cannot start a line of its
// own in the log or the menu. Everything else is left as it is.
QString escapeControls(const QString &text);

// The finished line, byte for byte, as both destinations receive it; the message's control
// characters are escaped (escapeControls).
QByteArray formatLine(Level level, const QTime &localTime, const QString &message);

// Blocks until every line emitted so far has been handed to the file (or dropped). Called at an
// orderly exit so that the last lines are not lost; cheap when the queue is empty.
void drain();

// Names the file every line is appended to ("" for none). The composition root calls it once,
// before the first line; a later call changes nothing, since the writer opens its file once.
void setFilePath(const QString &path);

// Full path of the log file this process writes to (empty when none was named).
QString filePath();

}  // namespace Log

}  // namespace fennimar
