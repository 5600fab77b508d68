#include "platform/linux/wayland/ToplevelTracker.h"

namespace fennimar {

void ToplevelTracker::created(quintptr handle)
{
    m_pending[handle] = Toplevel{};
}

// A change to a window the batch has not touched yet starts from its applied state.
static Toplevel &pendingFor(std::map<quintptr, Toplevel> &pending, const std::map<quintptr, Toplevel> &current,
                            quintptr handle)
{
    auto it = pending.find(handle);
    if (it != pending.end())
        return it->second;
    const auto applied = current.find(handle);
    return pending[handle] = applied != current.end() ? applied->second : Toplevel{};
}

void ToplevelTracker::setAppId(quintptr handle, const QString &appId)
{
    pendingFor(m_pending, m_current, handle).appId = appId;
}

void ToplevelTracker::setTitle(quintptr handle, const QString &title)
{
    pendingFor(m_pending, m_current, handle).title = title;
}

void ToplevelTracker::setPid(quintptr handle, qint64 pid)
{
    pendingFor(m_pending, m_current, handle).pid = pid;
}

void ToplevelTracker::setActivated(quintptr handle, bool activated)
{
    pendingFor(m_pending, m_current, handle).activated = activated;
}

void ToplevelTracker::done(quintptr handle)
{
    const auto it = m_pending.find(handle);
    if (it == m_pending.end())
        return;
    m_current[handle] = it->second;
    m_pending.erase(it);
}

void ToplevelTracker::closed(quintptr handle)
{
    m_pending.erase(handle);
    m_current.erase(handle);
}

bool ToplevelTracker::commit(Millis now)
{
    const Toplevel *active = nullptr;
    int activeCount = 0;
    for (const auto &[handle, toplevel] : m_current) {
        if (toplevel.activated) {
            active = &toplevel;
            ++activeCount;
        }
    }
    m_ambiguous = activeCount > 1;
    std::optional<Toplevel> front;
    if (activeCount == 1)
        front = *active;
    if (front == m_front)
        return false;
    if (!front && m_front) {
        m_previous = m_front;
        m_emptySince = now;
    }
    m_front = std::move(front);
    return true;
}

std::optional<Toplevel> ToplevelTracker::front(Millis now) const
{
    if (!m_front && m_previous && now - m_emptySince < kEmptyGrace)
        return m_previous;
    return m_front;
}

}  // namespace fennimar
