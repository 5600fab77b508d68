#pragma once

#include "core/CancelToken.h"
#include "core/Clock.h"

#include <coroutine>
#include <memory>

namespace fennimar {

// Awaitable sleep on the injected clock: `bool slept = co_await sleepFor(clock, 15s, token);`
// Resumes after the delay with true, or, when the token is cancelled first, on the next turn of the
// event loop with false. A sleep started on an already cancelled token returns false at once.
// g++ 12 may copy an awaiter behind co_await and suspend on the copy, so the awaiter is only a
// handle: every copy shares one state, and whichever copy is resumed reads the same outcome.
class SleepAwaiter {
public:
    SleepAwaiter(Clock &clock, Millis delay, CancelToken token);

    bool await_ready() const noexcept;
    void await_suspend(std::coroutine_handle<> handle);
    bool await_resume() const noexcept;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

inline SleepAwaiter sleepFor(Clock &clock, Millis delay, CancelToken token)
{
    return SleepAwaiter(clock, delay, std::move(token));
}

}  // namespace fennimar
