#pragma once

#include "platform/Accessibility.h"
#include "platform/AppCatalog.h"
#include "platform/ControlClient.h"
#include "platform/ControlServer.h"
#include "platform/Desktop.h"
#include "platform/DeviceFacts.h"
#include "platform/LoginService.h"
#include "platform/Notifier.h"
#include "platform/SecretStore.h"
#include "platform/SingleInstance.h"
#include "platform/TamperEvidence.h"

#include <memory>

namespace fennimar {

// Everything the agent asks of the operating system, built once by the composition root and
// handed down by reference. Tests build one from fakes.
struct Platform {
    // First, so that it outlives every part that raises evidence into it.
    std::shared_ptr<TamperEvidence> tamper = std::make_shared<TamperEvidence>();
    // The catalog first: the desktop describes windows through it and must go before it.
    std::unique_ptr<AppCatalog> apps;
    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<Accessibility> accessibility;
    std::unique_ptr<DeviceFacts> device;
    std::unique_ptr<LoginService> login;
    std::unique_ptr<SecretStore> secrets;
};

class Clock;

// Sets what this platform's process needs before the application object is made. macOS: Qt's Core
// Foundation event dispatcher also without the tray (a bare QCoreApplication on Darwin would turn a
// Unix loop that never drains the main dispatch queue, so the front app would go stale and keychain
// reads never finish), and a user-initiated activity for the process's life, so that App Nap does
// not delay its timers. Linux: a timer slack of 50 ms, so that the kernel may serve our wake-ups
// together with other processes', and TZ dropped from the environment, so that local time is the
// computer's (/etc/localtime), not the measured user's (a TZ naming another zone is logged). Costs
// a few system calls; cannot fail. Call before any other thread reads the environment.
void prepareProcess();

// The real platform of this build (chosen by CMake): the desktop of the login session, its
// accessibility bus, application catalog, device facts, login registration and secret store.
// Never fails: parts that cannot reach their service answer as their contracts say for failure.
Platform createPlatform(Clock &clock);

// The desktop's notifications, used while no tray icon is shown. Never fails: without the service
// the notifier drops its notices as its contract says.
std::unique_ptr<Notifier> createNotifier();

// Both ends of the running agent's control channel for this platform (the session bus on Linux).
// Never fail: an unreachable channel answers as the interfaces' contracts say.
std::unique_ptr<ControlServer> createControlServer();
std::unique_ptr<ControlClient> createControlClient();

}  // namespace fennimar
