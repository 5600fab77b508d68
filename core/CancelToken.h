#pragma once

#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace fennimar {

// Cooperative cancellation for long-running coroutines. Copies share one state. cancel() sets the
// flag and runs the registered listeners at once (each at most once); listeners wake sleeps and abort
// requests, and the task ends at the top of its next cycle by checking isCancelled().
class CancelToken {
public:
    CancelToken() : m_state(std::make_shared<State>()) {}

    void cancel()
    {
        if (m_state->cancelled)
            return;
        m_state->cancelled = true;
        auto listeners = std::exchange(m_state->listeners, {});
        for (auto &[id, fn] : listeners)
            fn();
    }
    bool isCancelled() const { return m_state->cancelled; }

    // Registers fn to run on cancel(); runs nothing if already cancelled (callers check first).
    // Returns an id for removeListener().
    int onCancel(std::function<void()> fn)
    {
        const int id = ++m_state->nextId;
        if (!m_state->cancelled)
            m_state->listeners.emplace(id, std::move(fn));
        return id;
    }
    void removeListener(int id) { m_state->listeners.erase(id); }

private:
    struct State {
        bool cancelled = false;
        int nextId = 0;
        std::map<int, std::function<void()>> listeners;
    };
    std::shared_ptr<State> m_state;
};

}  // namespace fennimar
