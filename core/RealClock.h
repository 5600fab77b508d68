#pragma once

#include "core/Clock.h"

#include <QElapsedTimer>

namespace fennimar {

// The production clock: system time and zone, timers on the Qt event loop of the calling thread.
class RealClock final : public Clock {
public:
    RealClock();
    QDateTime now() const override;
    QTimeZone timeZone() const override;
    Millis monotonic() const override;
    Millis sinceBoot() const override;
    TimerHandle callAfter(Millis delay, std::function<void()> fn) override;
    TimerHandle callEvery(Millis interval, std::function<void()> fn) override;

private:
    QElapsedTimer m_since;
};

}  // namespace fennimar
