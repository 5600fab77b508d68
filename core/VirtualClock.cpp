#include "core/VirtualClock.h"

#include <QCoreApplication>

namespace fennimar {

VirtualClock::VirtualClock(QDateTime start, QTimeZone zone) : m_start(start.toUTC()), m_zone(std::move(zone)) {}

VirtualClock::~VirtualClock()
{
    *m_alive = false;
}

QDateTime VirtualClock::now() const
{
    return m_start.addMSecs((m_monotonic + m_wallOffset).count());
}

TimerHandle VirtualClock::callAfter(Millis delay, std::function<void()> fn)
{
    return schedule(std::max(delay, Millis(0)), Millis(0), std::move(fn));
}

TimerHandle VirtualClock::callEvery(Millis interval, std::function<void()> fn)
{
    interval = std::max(interval, Millis(1));
    return schedule(interval, interval, std::move(fn));
}

TimerHandle VirtualClock::schedule(Millis delay, Millis interval, std::function<void()> fn)
{
    const quint64 id = ++m_sequence;
    m_timers.emplace(Key{m_monotonic + delay, id}, Timer{std::move(fn), interval, id});
    std::weak_ptr<bool> alive = m_alive;
    return TimerHandle([this, alive, id] {
        if (alive.expired())
            return;
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second.id == id) {
                m_timers.erase(it);
                return;
            }
        }
    });
}

void VirtualClock::drainPostedEvents()
{
    if (!QCoreApplication::instance())
        return;
    // Two passes: an event delivered in the first may post another (a coroutine resuming another).
    for (int i = 0; i < 2; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

int VirtualClock::advance(Millis d)
{
    const Millis target = m_monotonic + std::max(d, Millis(0));
    int fired = 0;
    drainPostedEvents();
    while (!m_timers.empty() && m_timers.begin()->first.first <= target) {
        auto node = m_timers.extract(m_timers.begin());
        m_monotonic = std::max(m_monotonic, node.key().first);  // a stall leaves timers overdue
        Timer timer = std::move(node.mapped());
        if (timer.interval > Millis(0)) {
            // Re-arm before running so that the callback may cancel its own repeating timer.
            m_timers.emplace(Key{m_monotonic + timer.interval, ++m_sequence},
                             Timer{timer.fn, timer.interval, timer.id});
        }
        timer.fn();
        ++fired;
        drainPostedEvents();
    }
    m_monotonic = target;
    return fired;
}

}  // namespace fennimar
