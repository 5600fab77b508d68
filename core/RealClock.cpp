#include "core/RealClock.h"

#include <QPointer>
#include <QTimer>

#include <time.h>

namespace fennimar {

RealClock::RealClock()
{
    m_since.start();
}

QDateTime RealClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

QTimeZone RealClock::timeZone() const
{
    return QTimeZone::systemTimeZone();
}

Millis RealClock::monotonic() const
{
    return Millis(m_since.elapsed());
}

Millis RealClock::sinceBoot() const
{
    // FENNIMAR_BOOT_CLOCK is chosen by the build: CLOCK_BOOTTIME on Linux, CLOCK_MONOTONIC on macOS,
    // where that clock goes on during sleep. It cannot fail with a valid clock id.
    timespec ts{};
    ::clock_gettime(FENNIMAR_BOOT_CLOCK, &ts);
    return Millis(qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

namespace {

// Whole-second timers share one wake-up. Qt puts a very coarse timer on the monotonic clock's full
// seconds, so the 1 s tick, the 5 s permission check, the minute's save and the heartbeat's and
// report's sleeps all fire in the tick's wake-up, each within a second of its time, instead of each
// waking the thread at its own phase (the permission check alone was 0.2 wake-ups a second).
// Shorter one-shots (back-offs, budgets, limits below 10 s) stay precise; other repeating timers
// are coarse (5%).
Qt::TimerType timerType(Millis interval, bool repeat)
{
    const bool wholeSeconds = interval.count() > 0 && interval.count() % 1000 == 0;
    if (wholeSeconds && (repeat || interval >= Millis(10000)))
        return Qt::VeryCoarseTimer;
    return repeat ? Qt::CoarseTimer : Qt::PreciseTimer;
}

// The QTimer is deleted later rather than at once so that cancelling from inside its own timeout
// is safe.
TimerHandle startTimer(Millis interval, bool repeat, std::function<void()> fn)
{
    auto *timer = new QTimer;
    timer->setSingleShot(!repeat);
    timer->setTimerType(timerType(interval, repeat));
    QObject::connect(timer, &QTimer::timeout, timer, [timer, repeat, fn = std::move(fn)] {
        if (!repeat)
            timer->deleteLater();
        fn();
    });
    timer->start(std::max<Millis>(interval, Millis(0)));
    QPointer<QTimer> guard(timer);
    return TimerHandle([guard] {
        if (guard) {
            guard->stop();
            guard->deleteLater();
        }
    });
}

}  // namespace

TimerHandle RealClock::callAfter(Millis delay, std::function<void()> fn)
{
    return startTimer(delay, false, std::move(fn));
}

TimerHandle RealClock::callEvery(Millis interval, std::function<void()> fn)
{
    return startTimer(std::max(interval, Millis(1)), true, std::move(fn));
}

}  // namespace fennimar
