#include "platform/UserSettings.h"

#include "platform/PlatformConstants.h"
#include "platform/macos/CFHelpers.h"

namespace fennimar::platform {

// QSettings would derive its own domain from an organisation name ("com.fennimar.Fennimar"), not
// the bundle identifier, so CFPreferences is asked directly.

std::optional<QString> readSetting(const QString &key)
{
    const auto domain = macos::toCFString(QLatin1String(AgentBundleID));
    const auto value =
        macos::CFPtr<CFTypeRef>::adopt(CFPreferencesCopyAppValue(macos::toCFString(key).get(), domain.get()));
    return macos::stringValue(value.get());
}

void writeSetting(const QString &key, const QString &value)
{
    const auto domain = macos::toCFString(QLatin1String(AgentBundleID));
    CFPreferencesSetAppValue(macos::toCFString(key).get(), macos::toCFString(value).get(), domain.get());
    CFPreferencesAppSynchronize(domain.get());
}

}  // namespace fennimar::platform
