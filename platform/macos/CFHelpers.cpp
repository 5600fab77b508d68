#include "platform/macos/CFHelpers.h"

#include <vector>

namespace fennimar::macos {

QString toQString(CFStringRef string)
{
    if (!string)
        return {};
    const CFIndex length = CFStringGetLength(string);
    if (length <= 0)
        return {};
    QString result(static_cast<qsizetype>(length), Qt::Uninitialized);
    CFStringGetCharacters(string, CFRange{0, length}, reinterpret_cast<UniChar *>(result.data()));
    return result;
}

std::optional<QString> stringValue(CFTypeRef value)
{
    if (!value || CFGetTypeID(value) != CFStringGetTypeID())
        return std::nullopt;
    return toQString(static_cast<CFStringRef>(value));
}

std::optional<QUrl> urlValue(CFTypeRef value)
{
    if (!value || CFGetTypeID(value) != CFURLGetTypeID())
        return std::nullopt;
    const auto absolute = CFPtr<CFURLRef>::adopt(CFURLCopyAbsoluteURL(static_cast<CFURLRef>(value)));
    if (!absolute)
        return std::nullopt;
    return QUrl(toQString(CFURLGetString(absolute.get())));
}

std::optional<bool> boolValue(CFTypeRef value)
{
    if (!value || CFGetTypeID(value) != CFBooleanGetTypeID())
        return std::nullopt;
    return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
}

std::optional<QByteArray> dataValue(CFTypeRef value)
{
    if (!value || CFGetTypeID(value) != CFDataGetTypeID())
        return std::nullopt;
    const auto data = static_cast<CFDataRef>(value);
    return QByteArray(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                      static_cast<qsizetype>(CFDataGetLength(data)));
}

CFDictionaryRef dictionaryValue(CFTypeRef value)
{
    if (!value || CFGetTypeID(value) != CFDictionaryGetTypeID())
        return nullptr;
    return static_cast<CFDictionaryRef>(value);
}

CFPtr<CFStringRef> toCFString(const QString &string)
{
    return CFPtr<CFStringRef>::adopt(CFStringCreateWithCharacters(
        kCFAllocatorDefault, reinterpret_cast<const UniChar *>(string.utf16()), static_cast<CFIndex>(string.size())));
}

CFPtr<CFDataRef> toCFData(const QByteArray &bytes)
{
    return CFPtr<CFDataRef>::adopt(CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bytes.constData()),
                                                static_cast<CFIndex>(bytes.size())));
}

CFTypeRef valueForKey(CFDictionaryRef dictionary, CFStringRef key)
{
    if (!dictionary || !key)
        return nullptr;
    return CFDictionaryGetValue(dictionary, key);
}

CFTypeRef valueForKey(CFDictionaryRef dictionary, const QString &key)
{
    return valueForKey(dictionary, toCFString(key).get());
}

CFPtr<CFDictionaryRef> makeDictionary(std::initializer_list<std::pair<CFTypeRef, CFTypeRef> > entries)
{
    std::vector<const void *> keys;
    std::vector<const void *> values;
    for (const auto &[key, value] : entries) {
        keys.push_back(key);
        values.push_back(value);
    }
    return CFPtr<CFDictionaryRef>::adopt(
        CFDictionaryCreate(kCFAllocatorDefault, keys.data(), values.data(), static_cast<CFIndex>(keys.size()),
                           &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

}  // namespace fennimar::macos
