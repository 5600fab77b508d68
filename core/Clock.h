#pragma once

#include <QDateTime>
#include <QTimeZone>

#include <chrono>
#include <functional>
#include <utility>

namespace fennimar {

using Millis = std::chrono::milliseconds;

// Owns one scheduled callback. Destroying the handle or calling cancel() guarantees the callback
// will not run afterwards. Move-only; a default-constructed handle owns nothing.
class TimerHandle {
public:
    TimerHandle() = default;
    explicit TimerHandle(std::function<void()> canceller) : m_cancel(std::move(canceller)) {}
    TimerHandle(TimerHandle &&other) noexcept : m_cancel(std::exchange(other.m_cancel, {})) {}
    TimerHandle &operator=(TimerHandle &&other) noexcept
    {
        if (this != &other) {
            cancel();
            m_cancel = std::exchange(other.m_cancel, {});
        }
        return *this;
    }
    TimerHandle(const TimerHandle &) = delete;
    TimerHandle &operator=(const TimerHandle &) = delete;
    ~TimerHandle() { cancel(); }

    // Stops the callback; safe to call from inside the callback itself and more than once.
    void cancel()
    {
        if (auto c = std::exchange(m_cancel, {}))
            c();
    }
    bool isActive() const { return static_cast<bool>(m_cancel); }

private:
    std::function<void()> m_cancel;
};

// The one source of time for the agent: the wall clock, the time zone that local days and hours
// are computed in, a monotonic clock for durations, and timers. Everything runs on the thread that
// owns the clock (the main thread); callbacks are invoked from its event loop, never re-entrantly
// from inside callAfter/callEvery.
class Clock {
public:
    virtual ~Clock() = default;

    // The current wall-clock instant. Cheap (no system call beyond reading the time). It may jump
    // when the user or NTP sets the clock; use monotonic() for durations.
    virtual QDateTime now() const = 0;

    // The time zone in which dates and hours are local. Cheap; follows the system's zone.
    virtual QTimeZone timeZone() const = 0;

    // Time since an arbitrary fixed point, never going backwards, standing still while the machine
    // is suspended. Cheap.
    virtual Millis monotonic() const = 0;

    // Time since boot, never going backwards, going on while the machine is suspended. Beside
    // monotonic() it tells a suspend (only this one moved) from the agent's process being stopped
    // or frozen while the machine ran (both moved). Cheap.
    virtual Millis sinceBoot() const = 0;

    // Runs fn once after delay (0 or negative: on the next turn of the loop). Never fails.
    virtual TimerHandle callAfter(Millis delay, std::function<void()> fn) = 0;

    // Runs fn every interval (> 0) until the handle is cancelled. A late turn of the loop
    // does not make up missed runs. Never fails.
    virtual TimerHandle callEvery(Millis interval, std::function<void()> fn) = 0;

    // now() expressed in timeZone().
    QDateTime localNow() const { return now().toTimeZone(timeZone()); }
};

}  // namespace fennimar
