#pragma once

#include <QString>

#include <optional>

namespace fennimar {

// The application that owns the user's focus.
struct RunningApp {
    QString identifier;   // bundle identifier on macOS; desktop-file id without ".desktop" on Linux; may be empty
    qint64 pid = 0;       // process id, 0 when unknown
    QString displayName;  // the name people see; may be empty
    QString location;     // the app bundle's or the desktop entry's path; may be empty
    bool operator==(const RunningApp &) const = default;
};

// What the sampler asks of the desktop once a second. Main thread only. Every method is cheap
// (microseconds, no blocking I/O on the caller's thread) and never throws.
class Desktop {
public:
    virtual ~Desktop() = default;

    // The frontmost application, or nothing when no application has focus or the desktop cannot
    // be asked (a lost display connection, an unsupported session). Failures are logged by the
    // implementation once, not on every call.
    virtual std::optional<RunningApp> frontmostApp() = 0;

    // Seconds since the user last pressed a key, moved or clicked the pointer or touched any input
    // device. Nothing when unknown (no idle source in this session, a lost connection, a reply past
    // its deadline): the caller must then take the user as away, since a made-up 0 would credit a
    // child who left the computer.
    virtual std::optional<double> secondsSinceInput() = 0;

    // Whether the login session's screen is locked. false when unknown.
    virtual bool screenLocked() = 0;

    // Empty while this desktop layer can tell which app is in front; otherwise one plain sentence
    // for the user saying why it cannot (e.g. "no display connection", "this Wayland compositor
    // offers no way to see the focused window"). Cheap; main thread.
    virtual QString samplingProblem() = 0;

    // Whether `front`, the app frontmostApp() answered this tick, holds a video inhibitor: an idle
    // or display-sleep inhibitor whose kind or reason says video, not audio alone (a player or a
    // browser playing a visible video keeps the screen awake that way). The sampler takes a user
    // watching without touching anything as present by it. An answer kept current by the desktop's
    // signals: free, main thread, every bus call behind it asynchronous and bounded. false when
    // the desktop gives no way to tell, or cannot tie the inhibitor to `front`.
    virtual bool frontAppWatching(const RunningApp &front)
    {
        (void)front;
        return false;
    }

    // Whether input could not be seen at the last secondsSinceInput(): its source takes an idle
    // inhibitor in force as input (a compositor's idle notification pauses while any window in view
    // holds one, a film or music alike), so that answer was the time since the last input seen
    // before. The sampler counts such a stretch as it counts watching, for at most 3 hours. Free.
    virtual bool inputHidden() { return false; }
};

}  // namespace fennimar
