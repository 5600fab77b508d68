#include "core/Sleep.h"

namespace fennimar {

struct SleepAwaiter::State {
    Clock &clock;
    Millis delay;
    CancelToken token;
    std::coroutine_handle<> handle;
    TimerHandle timer;
    int listener = 0;
    bool done = false;
    bool slept = false;

    void finish(bool fullDelay)
    {
        if (done)
            return;
        done = true;
        slept = fullDelay;
        if (listener) {
            token.removeListener(listener);
            listener = 0;
        }
        // The timer handle is left alone: we may be running inside its callback.
        std::exchange(handle, {}).resume();
    }
};

SleepAwaiter::SleepAwaiter(Clock &clock, Millis delay, CancelToken token)
    : m_state(std::make_shared<State>(State{clock, delay, std::move(token), {}, {}, 0, false, false}))
{
}

bool SleepAwaiter::await_ready() const noexcept
{
    return m_state->token.isCancelled();
}

bool SleepAwaiter::await_resume() const noexcept
{
    return m_state->slept;
}

void SleepAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    State *state = m_state.get();
    state->handle = handle;
    // The callbacks keep the state alive: the awaiter object itself may be a short-lived copy.
    std::shared_ptr<State> keep = m_state;
    state->timer = state->clock.callAfter(state->delay, [keep] { keep->finish(true); });
    // Resume on the clock's next turn rather than inside cancel(), so the canceller finishes its own
    // work before the cancelled task runs again.
    std::weak_ptr<State> weak = m_state;
    state->listener = state->token.onCancel([weak] {
        if (auto s = weak.lock()) {
            s->listener = 0;
            s->timer = s->clock.callAfter(Millis(0), [s] { s->finish(false); });
        }
    });
}

}  // namespace fennimar
