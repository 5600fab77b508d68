#pragma once

#include "platform/Desktop.h"

namespace fennimar::test {

// A desktop whose answers are set by the test (or by a script between clock steps).
class FakeDesktop : public Desktop {
public:
    std::optional<RunningApp> front;
    double idleSeconds = 0;
    bool locked = false;
    int frontmostCalls = 0;

    std::optional<RunningApp> frontmostApp() override
    {
        ++frontmostCalls;
        return front;
    }
    double secondsSinceInput() override { return idleSeconds; }
    bool screenLocked() override { return locked; }
};

}  // namespace fennimar::test
