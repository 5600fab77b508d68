#pragma once

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace fennimar::xcb {

using SteadyClock = std::chrono::steady_clock;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// Waits for the reply to one request until deadline, never blocking past it: a server grabbed by
// another client, or one that hangs, costs the caller the deadline and no more. A late reply is
// discarded when it arrives. Null on an X error, a timeout (timedOut set) or a broken connection.
// The request must have been flushed.
template <typename T>
Reply<T> awaitReply(xcb_connection_t *c, unsigned int sequence, SteadyClock::time_point deadline, bool &timedOut)
{
    for (;;) {
        void *reply = nullptr;
        xcb_generic_error_t *error = nullptr;
        if (xcb_poll_for_reply(c, sequence, &reply, &error)) {
            std::free(error);
            return Reply<T>(static_cast<T *>(reply));
        }
        if (xcb_connection_has_error(c))
            return nullptr;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) {
            xcb_discard_reply(c, sequence);
            timedOut = true;
            return nullptr;
        }
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left.count()) + 1);
    }
}

}  // namespace fennimar::xcb
