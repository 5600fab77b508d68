#pragma once

#include "backend/BackendClient.h"
#include "backend/SystemInfo.h"
#include "platform/VirtualClock.h"
#include "tests/fakes/Fakes.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/QtPrinters.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <QCoroTask>

#include <gtest/gtest.h>

namespace fennimar::test {

namespace detail {
template <typename T>
QCoro::Task<void> deliver(QCoro::Task<T> task, std::shared_ptr<std::optional<T>> out)
{
    auto value = co_await std::move(task);
    out->emplace(std::move(value));
}
inline QCoro::Task<void> deliver(QCoro::Task<void> task, std::shared_ptr<std::optional<bool>> out)
{
    co_await std::move(task);
    out->emplace(true);
}
template <typename T>
bool spin(const std::shared_ptr<std::optional<T>> &out, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    while (!out->has_value() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return out->has_value();
}
}  // namespace detail

// Runs a client operation to its end on the event loop, for at most limit (a test failure after).
template <typename T>
T finish(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(15))
{
    auto out = std::make_shared<std::optional<T>>();
    detail::deliver(std::move(task), out);
    if (!detail::spin(out, limit)) {
        ADD_FAILURE() << "the operation did not finish in time";
        return T();
    }
    return std::move(**out);
}
inline void finish(QCoro::Task<void> task, std::chrono::milliseconds limit = std::chrono::seconds(15))
{
    auto out = std::make_shared<std::optional<bool>>();
    detail::deliver(std::move(task), out);
    if (!detail::spin(out, limit))
        ADD_FAILURE() << "the operation did not finish in time";
}

// A client on a loopback server. The clock is virtual: request bodies carry its fixed time, and its
// request limits never fire unless a test moves it; finish() bounds every wait instead.
class LoopbackClientTest : public ::testing::Test {
protected:
    using Response = LoopbackHttpServer::Response;

    void SetUp() override { ASSERT_TRUE(server.isListening()); }

    LoopbackHttpServer server;
    VirtualClock clock;
    FakeDeviceFacts facts;
    SystemInfo system{facts};
    BackendClient client = BackendClient::create(server.baseUrl(), clock);
};

}  // namespace fennimar::test
