#pragma once

#include "backend/BackendClient.h"
#include "backend/SystemInfo.h"
#include "core/VirtualClock.h"
#include "tests/fakes/Fakes.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/QtPrinters.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <QCoroTask>

#include <gtest/gtest.h>

namespace fennimar::test {

// Runs a client operation to its end on the event loop, for at most limit (a test failure after).
template <typename T>
T finish(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(15))
{
    // Shared with the coroutine, which may still end after a timeout here.
    auto out = std::make_shared<std::optional<T>>();
    [](QCoro::Task<T> t, std::shared_ptr<std::optional<T>> o) -> QCoro::Task<void> {
        o->emplace(co_await std::move(t));
    }(std::move(task), out);
    const QDeadlineTimer deadline(limit);
    while (!*out && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    if (!*out) {
        ADD_FAILURE() << "the operation did not finish in time";
        return T();
    }
    return std::move(**out);
}
inline void finish(QCoro::Task<void> task, std::chrono::milliseconds limit = std::chrono::seconds(15))
{
    finish(
        [](QCoro::Task<void> t) -> QCoro::Task<bool> {
            co_await std::move(t);
            co_return true;
        }(std::move(task)),
        limit);
}

// A client on a loopback server and a virtual clock that fires no limit unless moved; finish() bounds waits.
class LoopbackClientTest : public ::testing::Test {
protected:
    using Response = LoopbackHttpServer::Response;

    void SetUp() override { ASSERT_TRUE(server.isListening()); }
    // A request that finish() gave up on still reads the clock: its limits end it while the clock lives.
    ~LoopbackClientTest() override { clock.advance(std::chrono::hours(2)); }

    LoopbackHttpServer server;
    VirtualClock clock;
    FakeDeviceFacts facts;
    SystemInfo system{facts};
    BackendClient client = BackendClient::create(server.baseUrl(), clock);
};

}  // namespace fennimar::test
