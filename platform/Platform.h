#pragma once

#include "platform/Accessibility.h"
#include "platform/AppCatalog.h"
#include "platform/Desktop.h"
#include "platform/DeviceFacts.h"
#include "platform/LoginService.h"
#include "platform/SecretStore.h"

#include <memory>

namespace fennimar {

// Everything the agent asks of the operating system, built once by the composition root and
// handed down by reference. Tests build one from fakes.
struct Platform {
    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<Accessibility> accessibility;
    std::unique_ptr<AppCatalog> apps;
    std::unique_ptr<DeviceFacts> device;
    std::unique_ptr<LoginService> login;
    std::unique_ptr<SecretStore> secrets;
};

}  // namespace fennimar
