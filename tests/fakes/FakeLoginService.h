#pragma once

#include "platform/LoginService.h"

#include <QString>

namespace fennimar::test {

// A scriptable start-at-login registration that counts its calls. A successful registration makes
// the status Enabled, a successful unregistration NotRegistered, as the real services do.
class FakeLoginService final : public LoginService {
public:
    Status current = Status::NotRegistered;
    QString registerFailure;    // when not empty, registerService() fails with this reason
    QString unregisterFailure;  // when not empty, unregisterService() fails with this reason

    int statusCalls = 0, registerCalls = 0, unregisterCalls = 0, openSettingsCalls = 0;

    Status status() override
    {
        ++statusCalls;
        return current;
    }

    fennimar::Status registerService() override
    {
        ++registerCalls;
        if (!registerFailure.isEmpty())
            return fennimar::Status::failure(registerFailure);
        current = Status::Enabled;
        return {};
    }

    fennimar::Status unregisterService() override
    {
        ++unregisterCalls;
        if (!unregisterFailure.isEmpty())
            return fennimar::Status::failure(unregisterFailure);
        current = Status::NotRegistered;
        return {};
    }

    void openSettings() override { ++openSettingsCalls; }
};

}  // namespace fennimar::test
