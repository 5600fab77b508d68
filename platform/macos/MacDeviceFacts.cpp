#include "platform/macos/MacDeviceFacts.h"

#include "platform/macos/CFHelpers.h"

#include <QOperatingSystemVersion>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace fennimar::macos {

namespace {

QString readModel()
{
    std::size_t size = 0;
    if (sysctlbyname("hw.model", nullptr, &size, nullptr, 0) != 0 || size < 1)
        return {};
    std::vector<char> buffer(size + 1, '\0');  // one more, so that the text always ends in NUL
    if (sysctlbyname("hw.model", buffer.data(), &size, nullptr, 0) != 0)
        return {};
    return QString::fromUtf8(buffer.data());
}

}  // namespace

QString MacDeviceFacts::vendor()
{
    return QStringLiteral("Apple");
}

QString MacDeviceFacts::model()
{
    if (!m_model)
        m_model = readModel();
    return *m_model;
}

bool MacDeviceFacts::hasInternalBattery()
{
    const auto blob = CFPtr<CFTypeRef>::adopt(IOPSCopyPowerSourcesInfo());
    if (!blob)
        return false;
    const auto sources = CFPtr<CFArrayRef>::adopt(IOPSCopyPowerSourcesList(blob.get()));
    if (!sources)
        return false;
    const CFIndex count = CFArrayGetCount(sources.get());
    for (CFIndex i = 0; i < count; ++i) {
        const CFDictionaryRef description =
            IOPSGetPowerSourceDescription(blob.get(), static_cast<CFTypeRef>(CFArrayGetValueAtIndex(sources.get(), i)));
        // kIOPSTypeKey and kIOPSInternalBatteryType.
        if (stringValue(valueForKey(description, QStringLiteral("Type"))) == QStringLiteral("InternalBattery"))
            return true;
    }
    return false;
}

QString MacDeviceFacts::osVersion()
{
    const QOperatingSystemVersion os = QOperatingSystemVersion::current();
    if (os.majorVersion() < 0)
        return {};
    return QStringLiteral("%1.%2.%3")
        .arg(os.majorVersion())
        .arg(qMax(os.minorVersion(), 0))
        .arg(qMax(os.microVersion(), 0));
}

QString MacDeviceFacts::computerName()
{
    return toQString(CFPtr<CFStringRef>::adopt(SCDynamicStoreCopyComputerName(nullptr, nullptr)).get());
}

QString MacDeviceFacts::userName()
{
    if (const passwd *entry = ::getpwuid(::getuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

}  // namespace fennimar::macos
