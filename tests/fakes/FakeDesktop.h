#pragma once

#include "platform/Desktop.h"

#include <functional>

namespace fennimar::test {

// A desktop whose answers are set by the test (or by a script between clock steps).
class FakeDesktop : public Desktop {
public:
    std::optional<RunningApp> front;
    std::optional<double> idleSeconds = 0.0;      // nothing: unknown
    std::function<std::optional<double>()> idle;  // when set, the time since input, instead of idleSeconds
    bool locked = false;
    QString problem;  // what samplingProblem() answers
    int idleCalls = 0;

    std::optional<RunningApp> frontmostApp() override { return front; }
    std::optional<double> secondsSinceInput() override
    {
        ++idleCalls;
        return idle ? idle() : idleSeconds;
    }
    bool screenLocked() override { return locked; }
    QString samplingProblem() override { return problem; }
};

}  // namespace fennimar::test
