#include "platform/macos/MacDesktop.h"

#include "platform/macos/DisplayAssertions.h"
#include "platform/macos/MacSession.h"

namespace fennimar::macos {

MacDesktop::MacDesktop(FrontmostReader frontmost) : m_frontmost(std::move(frontmost)) {}

std::optional<RunningApp> MacDesktop::frontmostApp()
{
    return m_frontmost ? m_frontmost() : std::nullopt;
}

std::optional<double> MacDesktop::secondsSinceInput()
{
    return macos::secondsSinceInput();
}

bool MacDesktop::screenLocked()
{
    const SessionState session = currentSession();
    return session.locked || !session.onConsole;
}

QString MacDesktop::samplingProblem()
{
    if (currentSession().present)
        return {};
    return QStringLiteral("the agent runs outside a desktop login session");
}

bool MacDesktop::frontAppWatching(const RunningApp &front)
{
    return holdsDisplayAssertion(front.pid);
}

}  // namespace fennimar::macos
