#pragma once

#include "core/Clock.h"

#include <optional>

namespace fennimar {

// Seconds since input, rebuilt from an idle notification with timeout T (ext-idle-notify-v1,
// org_kde_kwin_idle): the compositor says "idled" once T has passed without input and "resumed" at
// the next input. So after "idled" at time t the user has been away T + (now - t); before it, or
// after "resumed", less than T, which is answered as 0 (T is a second or two, far below any idle
// threshold). The clock starts when the notification is created: time away before that is not
// seen. Pure; main thread.
class NotifiedIdle {
public:
    explicit NotifiedIdle(Millis timeout) : m_timeout(timeout) {}

    void idled(Millis now)
    {
        if (!m_idledAt)
            m_idledAt = now;
    }
    void resumed() { m_idledAt.reset(); }

    double seconds(Millis now) const
    {
        if (!m_idledAt)
            return 0;
        const Millis away = m_timeout + (now > *m_idledAt ? now - *m_idledAt : Millis{0});
        return static_cast<double>(away.count()) / 1000.0;
    }
    Millis timeout() const { return m_timeout; }

private:
    Millis m_timeout;
    std::optional<Millis> m_idledAt;
};

}  // namespace fennimar
