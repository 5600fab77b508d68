#pragma once

#include "agent/Agent.h"
#include "services/Keychain.h"
#include "platform/PlatformTraits.h"
#include "core/VirtualClock.h"
#include "tests/fakes/Fakes.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TempHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace fennimar::test {

// The child's list with the xterm the fake desktop shows monitored, under this platform's prefix.
inline QByteArray xtermMonitored()
{
    return R"({"apps":[{"package_id":")" + (platform::appPrefix() + QStringLiteral("xterm")).toUtf8() +
           R"(","is_blocked":true}]})";
}

using Response = LoopbackHttpServer::Response;

inline QByteArray ticketJson(const char *expiresAt)
{
    return R"({"token":"tok-1","pair_code":"ABC234","device_id":"dev-1","expires_at":")" + QByteArray(expiresAt) +
           "\"}";
}

// An agent on fakes and virtual time, on real HTTP to a loopback server; waitFor() pumps the event loop.
class AgentFixture : public ::testing::Test {
protected:
    TempHome home;
    VirtualClock clock{QDateTime(QDate(2026, 3, 14), QTime(9, 0), QTimeZone::utc())};
    LoopbackHttpServer server;
    Platform platform;
    FakeDesktop *desktop = new FakeDesktop;
    FakeAccessibility *accessibility = new FakeAccessibility;
    FakeLoginService *login = new FakeLoginService;
    FakeSecretStore *secrets = new FakeSecretStore;
    std::unique_ptr<Agent> agent;

    AgentFixture()
    {
        platform.desktop.reset(desktop);
        platform.accessibility.reset(accessibility);
        platform.apps = std::make_unique<FakeAppCatalog>();
        platform.device = std::make_unique<FakeDeviceFacts>();
        platform.login.reset(login);
        platform.secrets.reset(secrets);
        server.respond(QStringLiteral("/api/devices/dev-1/heartbeat"), Response::json("{}"));
        server.respond(QStringLiteral("/api/guard/heartbeat"), Response::json("{}"));
        server.respond(QStringLiteral("/api/guard/my-installed-apps"), Response::json(xtermMonitored()));
        server.respond(QStringLiteral("/api/guard/desktop-apps-seen"), Response::json(R"({"recorded":0,"new":0})"));
    }
    ~AgentFixture() override
    {
        agent.reset();  // cancelled tasks and requests in flight end before the test does
        clock.runDue();
        pump(std::chrono::milliseconds(50));
        clock.runDue();
    }

    QString supportDir() const { return home.file(QStringLiteral("support")); }

    // Patient request limits by default: virtual time runs ahead of loopback answers on a loaded machine.
    void makeAgent(BackendClient::Limits limits = {std::chrono::minutes(30), std::chrono::minutes(60)})
    {
        QDir().mkpath(supportDir());
        agent = std::make_unique<Agent>(clock, platform, server.baseUrl(), supportDir(), limits);
    }

    PairedIdentity storedIdentity()
    {
        PairedIdentity id{QStringLiteral("dev-1"), QStringLiteral("child-7"), QStringLiteral("Robin"),
                          QStringLiteral("secret-session"), clock.now()};
        (void)Keychain(*secrets, *platform.device).save(id);  // the fake store completes at once
        return id;
    }

    static void pump(std::chrono::milliseconds d)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < d.count())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    // Pumps real events (virtual time stands still) until pred holds or 5 s pass.
    template <typename Pred>
    bool waitFor(Pred pred)
    {
        QElapsedTimer t;
        t.start();
        for (; !pred(); clock.runDue()) {
            if (t.elapsed() > 5000)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    // Moves virtual time in steps, letting replies arrive after each, until pred holds or `limit` passed.
    template <typename Pred>
    bool advanceUntil(Pred pred, std::chrono::milliseconds limit,
                      std::chrono::milliseconds step = std::chrono::seconds(5))
    {
        for (auto passed = std::chrono::milliseconds(0); !pred(); passed += step) {
            if (passed >= limit)
                return waitFor(pred);
            clock.advance(std::min(step, limit - passed));
            pump(std::chrono::milliseconds(3));
        }
        return true;
    }
    void advance(std::chrono::milliseconds d, std::chrono::milliseconds step = std::chrono::seconds(5))
    {
        for (; d > std::chrono::milliseconds(0); d -= step) {
            clock.advance(std::min(d, step));
            pump(std::chrono::milliseconds(3));
        }
    }

    std::size_t requestsTo(const char *path) const { return server.requestsTo(QString::fromLatin1(path)).size(); }

    template <typename S>
    const S *stateAs() const
    {
        return std::get_if<S>(&agent->state());
    }
};

}  // namespace fennimar::test
