#pragma once

#include "core/Clock.h"

#include <map>
#include <memory>

namespace fennimar {

// A clock whose time moves only when told to. advance() runs every timer that falls due in deadline
// order (ties in the order they were scheduled), moving now() to each deadline before its callback and
// letting the Qt event loop deliver posted events between callbacks, so coroutines resumed through
// queued calls make progress as they would in production. Tests and simulations use it to run hours
// of the agent's life in milliseconds.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc()),
                          QTimeZone zone = QTimeZone::utc());
    ~VirtualClock() override;

    QDateTime now() const override;
    QTimeZone timeZone() const override { return m_zone; }
    Millis monotonic() const override { return m_monotonic; }
    Millis sinceBoot() const override { return m_monotonic + m_suspended; }
    TimerHandle callAfter(Millis delay, std::function<void()> fn) override;
    TimerHandle callEvery(Millis interval, std::function<void()> fn) override;

    // Moves time forward by d, firing due timers on the way. Returns the number of callbacks run.
    int advance(Millis d);
    // Fires whatever is due now (delay-0 timers) and delivers posted events, without moving time.
    int runDue() { return advance(Millis(0)); }

    // Sets the wall clock by the given amount without moving monotonic time or firing timers,
    // as when a user or NTP changes the system clock.
    void jumpWallClock(Millis d) { m_wallOffset += d; }
    void setTimeZone(const QTimeZone &zone) { m_zone = zone; }

    // The machine sleeps for d: the wall clock and sinceBoot() move on, monotonic time stands still
    // and no timer fires.
    void suspend(Millis d)
    {
        m_suspended += d;
        m_wallOffset += d;
    }
    // The process is stopped for d while the machine runs (SIGSTOP, a frozen cgroup): every clock
    // moves on and nothing fires; the next advance() or runDue() runs what fell due, each repeating
    // timer once (as a late turn of the loop does not make up missed runs).
    void stall(Millis d) { m_monotonic += d; }

    // Number of scheduled timers (for leak checks in tests).
    std::size_t pendingTimers() const { return m_timers.size(); }

private:
    struct Timer {
        std::function<void()> fn;
        Millis interval{0};  // 0 = once
        quint64 id = 0;
    };
    using Key = std::pair<Millis, quint64>;  // deadline, scheduling sequence
    TimerHandle schedule(Millis delay, Millis interval, std::function<void()> fn);
    static void drainPostedEvents();

    QDateTime m_start;
    QTimeZone m_zone;
    Millis m_monotonic{0};
    Millis m_wallOffset{0};
    Millis m_suspended{0};
    quint64 m_sequence = 0;
    std::map<Key, Timer> m_timers;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace fennimar
