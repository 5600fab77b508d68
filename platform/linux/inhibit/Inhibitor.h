#pragma once

#include "platform/Desktop.h"

#include <QString>

#include <vector>

namespace fennimar {

// One idle or sleep inhibitor as a desktop service lists it.
struct Inhibitor {
    QString app;               // the holder's own name: an argv[0] path, a program name, a Flatpak id
    QString reason;            // its own words: "Video Wake Lock", "Playing video", "Playing audio" ...
    bool keepsScreen = false;  // it inhibits idle / display sleep, not only suspend
    qint64 pid = 0;            // the holder's process, when known; 0 when the source hides it
    bool operator==(const Inhibitor &) const = default;
};

// Whether `front` holds an inhibitor of `held` that says video: one that keeps the screen awake and
// whose reason is one a player or browser gives only while a video plays. Firefox takes the same
// screen inhibitor for music ("Playing audio") as for a video ("Playing video"), GNOME turns both
// into idle inhibitors, and games and tools take them too, so only the reason parts them.
// `frontExecutable` is the front process's executable path, may be empty.
bool frontHoldsVideo(const std::vector<Inhibitor> &held, const RunningApp &front, const QString &frontExecutable);

}  // namespace fennimar
