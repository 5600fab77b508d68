#pragma once

#include "backend/BackendClient.h"
#include "backend/SystemInfo.h"
#include "platform/VirtualClock.h"
#include "tests/fakes/FakeDeviceFacts.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QCoroTask>

#include <gtest/gtest.h>

// Readable QStrings in failure messages (found by argument-dependent lookup, so in QString's namespace).
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace fennimar::test {

// Runs a client operation to its end on a nested event loop.
template <typename T>
T finish(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

// A client on a loopback server. The clock is virtual: request bodies carry its fixed time, and its
// request limits never fire unless a test moves it.
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
