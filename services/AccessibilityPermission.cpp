#include "services/AccessibilityPermission.h"

#include "core/Log.h"

#include <memory>

namespace fennimar {

AccessibilityPermission::AccessibilityPermission(Accessibility &accessibility, Clock &clock)
    : m_accessibility(accessibility), m_clock(clock)
{
}

bool AccessibilityPermission::isTrusted()
{
    return m_accessibility.isTrusted();
}

TimerHandle AccessibilityPermission::startWatching(std::function<void(bool)> onChange)
{
    auto last = std::make_shared<bool>(m_accessibility.isTrusted());
    Accessibility &accessibility = m_accessibility;
    return m_clock.callEvery(checkInterval, [&accessibility, last, onChange = std::move(onChange)] {
        const bool trusted = accessibility.isTrusted();
        if (trusted == *last)
            return;
        *last = trusted;
        Log::info(trusted ? QStringLiteral("accessibility · GRANTED") : QStringLiteral("accessibility · REVOKED"));
        if (onChange)
            onChange(trusted);
    });
}

bool AccessibilityPermission::request()
{
    if (!m_accessibility.isTrusted())
        m_accessibility.requestTrust();
    const bool trusted = m_accessibility.isTrusted();
    Log::info(QStringLiteral("accessibility · prompted (granted=%1)")
                  .arg(trusted ? QStringLiteral("true") : QStringLiteral("false")));
    return settingsNeeded(trusted, m_accessibility.requestShowsPrompt(), m_requests++);
}

bool AccessibilityPermission::settingsNeeded(bool trusted, bool systemPrompts, int earlierRequests)
{
    return !trusted && (!systemPrompts || earlierRequests > 0);
}

}  // namespace fennimar
