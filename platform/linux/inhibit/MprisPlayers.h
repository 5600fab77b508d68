#pragma once

#include "core/Clock.h"
#include "platform/linux/inhibit/Inhibitor.h"

#include <QDBusConnection>
#include <QObject>

#include <vector>

namespace fennimar {

// The MPRIS players on the session bus (org.mpris.MediaPlayer2.*), each with its connection's pid,
// whether it says it plays and the page it names. Listed only when asked for, which the watching
// desktop does only on ticks where a video inhibitor is all that keeps an away user counted, and at
// most every 3 s. Main thread only.
class MprisPlayers : public QObject {
public:
    MprisPlayers(Clock &clock, QDBusConnection session, QObject *parent = nullptr);

    // The players of the last listing, or none while no listing answered in the last 10 s (none was
    // asked for while the user was present, so the first away tick says nothing); starts a new listing
    // when none is in flight and the last started 3 s ago or more. Free: every bus call is
    // asynchronous and bounded (one ListNames, then a pid and the properties per player, at most 32
    // players), so a listing ends within twice the bus timeout. A player that does not answer counts
    // as playing. None where the bus cannot be asked.
    std::vector<MediaPlayer> players();

private:
    void list();
    void listed(std::vector<MediaPlayer> players);
    double now() const;

    Clock &m_clock;
    QDBusConnection m_bus;
    std::vector<MediaPlayer> m_players;
    double m_askedAt = -1e9;   // when the last listing started (seconds on the clock)
    double m_listedAt = -1e9;  // when the last one answered
    bool m_asking = false;
};

}  // namespace fennimar
