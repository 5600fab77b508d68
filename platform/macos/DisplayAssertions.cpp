#include "platform/macos/DisplayAssertions.h"

#include "platform/macos/CFHelpers.h"

#include <vector>

namespace fennimar::macos {

namespace {

std::optional<int> intValue(CFTypeRef value)
{
    int number = 0;
    if (!value || CFGetTypeID(value) != CFNumberGetTypeID() ||
        !CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberIntType, &number))
        return std::nullopt;
    return number;
}

bool keepsDisplayAwake(CFDictionaryRef assertion)
{
    const QString type = stringValue(valueForKey(assertion, QStringLiteral("AssertType"))).value_or(QString());
    if (type != QLatin1String("PreventUserIdleDisplaySleep") && type != QLatin1String("NoDisplaySleepAssertion"))
        return false;
    // 255 on, 0 off; an assertion listed without a level is taken as held.
    return intValue(valueForKey(assertion, QStringLiteral("AssertLevel"))).value_or(255) != 0;
}

}  // namespace

bool holdsDisplayAssertion(qint64 pid)
{
    CFDictionaryRef raw = nullptr;
    if (pid <= 0 || IOPMCopyAssertionsByProcess(&raw) != kIOReturnSuccess || !raw)
        return false;
    const auto byPid = CFPtr<CFDictionaryRef>::adopt(raw);
    const auto count = static_cast<size_t>(CFDictionaryGetCount(raw));
    std::vector<const void *> keys(count), values(count);
    CFDictionaryGetKeysAndValues(raw, keys.data(), values.data());
    for (size_t i = 0; i < count; ++i) {
        if (intValue(keys[i]) != pid || !values[i] || CFGetTypeID(values[i]) != CFArrayGetTypeID())
            continue;
        const auto list = static_cast<CFArrayRef>(values[i]);
        for (CFIndex k = 0; k < CFArrayGetCount(list); ++k) {
            const CFDictionaryRef assertion = dictionaryValue(CFArrayGetValueAtIndex(list, k));
            if (assertion && keepsDisplayAwake(assertion))
                return true;
        }
    }
    return false;
}

}  // namespace fennimar::macos
