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

// One MPRIS player on the session bus (a bus name org.mpris.MediaPlayer2.<app>[.<instance>]).
struct MediaPlayer {
    QString app;           // the <app> part of its name: "vlc", "firefox", "chromium"
    qint64 pid = 0;        // its connection's process, 0 when unknown
    bool proxied = false;  // its connection comes through a Flatpak app's bus proxy: matched by app
    bool playing = true;   // its PlaybackStatus is "Playing", or it did not say
    QString url;           // its xesam:url, the page that plays (Firefox's only), may be empty
};

// Whether `front` holds an inhibitor of `held` that says video: one that keeps the screen awake and
// whose reason is one a player or browser gives only while a video plays. Firefox takes the same
// screen inhibitor for music ("Playing audio") as for a video ("Playing video"), GNOME turns both
// into idle inhibitors, and games and tools take them too, so only the reason parts them.
// `frontExecutable` is the front process's executable path, may be empty.
bool frontHoldsVideo(const std::vector<Inhibitor> &held, const RunningApp &front, const QString &frontExecutable);

// Whether `front`'s own players deny it a film: it has one or more and none of them plays (the
// video inhibitor it holds is a paused film's: players keep it while paused), or each that plays
// names its page and none has the host of `page`, the address last read in the focused window (the
// film plays in another window or tab of the browser; empty when unknown). Only ever evidence
// against a film: an app without a player says nothing (a muted film has none), nor one that plays
// without naming its page. Any process may own an MPRIS name and say what it likes, so a fake
// player can make a film count less, never more: a child gains nothing from one.
bool playersDenyFilm(const std::vector<MediaPlayer> &players, const RunningApp &front, const QString &frontExecutable,
                     const QString &page);

// The Flatpak id of the app behind a process, empty for none: Flatpak runs each app's bus proxy,
// like the app, with the app's /.flatpak-info in its root, which is how the portals tell Flatpak
// apps apart. One small file read.
QString flatpakOf(qint64 pid);

}  // namespace fennimar
