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
    int registerCalls = 0, unregisterCalls = 0, openSettingsCalls = 0;

    Status status() override { return current; }
    fennimar::Status registerService() override
    {
        ++registerCalls;
        return change(registerFailure, Status::Enabled);
    }
    fennimar::Status unregisterService() override
    {
        ++unregisterCalls;
        return change(unregisterFailure, Status::NotRegistered);
    }
    void openSettings() override { ++openSettingsCalls; }

private:
    fennimar::Status change(const QString &failure, Status next)
    {
        if (!failure.isEmpty())
            return fennimar::Status::failure(failure);
        current = next;
        return {};
    }
};

}  // namespace fennimar::test
