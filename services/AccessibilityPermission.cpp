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

void AccessibilityPermission::request()
{
    if (!m_accessibility.isTrusted())
        m_accessibility.requestTrust();
    Log::info(QStringLiteral("accessibility · prompted (granted=%1)")
                  .arg(m_accessibility.isTrusted() ? QStringLiteral("true") : QStringLiteral("false")));
}

}  // namespace fennimar
