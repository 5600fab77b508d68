#include "core/RealClock.h"

#include <QPointer>
#include <QTimer>

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

namespace {

// The QTimer is deleted later rather than at once so that cancelling from inside its own timeout
// is safe.
TimerHandle startTimer(Millis interval, bool repeat, std::function<void()> fn)
{
    auto *timer = new QTimer;
    timer->setSingleShot(!repeat);
    // Coarse timers let the kernel batch our wake-ups with others; a 1 s cadence tolerates 5%.
    timer->setTimerType(repeat ? Qt::CoarseTimer : Qt::PreciseTimer);
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
