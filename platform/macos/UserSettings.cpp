#include "platform/UserSettings.h"

#include "platform/PlatformTraits.h"
#include "platform/macos/CFHelpers.h"

namespace fennimar::platform {

// QSettings would derive its own domain from an organisation name ("com.fennimar.Fennimar"), not
// the bundle identifier, so CFPreferences is asked directly.

namespace {
macos::CFPtr<CFStringRef> settingsDomain()
{
    const QString throwaway = qEnvironmentVariable(settingsDomainVariable);
    return macos::toCFString(throwaway.isEmpty() ? QString::fromLatin1(AgentBundleID) : throwaway);
}
}  // namespace

std::optional<QString> readSetting(const QString &key)
{
    const auto domain = settingsDomain();
    const auto value =
        macos::CFPtr<CFTypeRef>::adopt(CFPreferencesCopyAppValue(macos::toCFString(key).get(), domain.get()));
    return macos::stringValue(value.get());
}

void writeSetting(const QString &key, const QString &value)
{
    const auto domain = settingsDomain();
    CFPreferencesSetAppValue(macos::toCFString(key).get(), macos::toCFString(value).get(), domain.get());
    CFPreferencesAppSynchronize(domain.get());
}

void clearThrowawaySettings()
{
    if (qEnvironmentVariable(settingsDomainVariable).isEmpty())
        return;
    const auto domain = settingsDomain();
    const auto keys = macos::CFPtr<CFArrayRef>::adopt(
        CFPreferencesCopyKeyList(domain.get(), kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    for (CFIndex i = 0; keys && i < CFArrayGetCount(keys.get()); ++i)
        CFPreferencesSetAppValue(static_cast<CFStringRef>(CFArrayGetValueAtIndex(keys.get(), i)), nullptr,
                                 domain.get());
    CFPreferencesAppSynchronize(domain.get());
}

}  // namespace fennimar::platform
