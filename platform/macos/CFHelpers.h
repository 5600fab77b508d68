#pragma once

#include "platform/macos/sdk/AppleC.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <utility>

namespace fennimar::macos {

// Owns one CoreFoundation reference: released exactly once, when the holder goes. adopt() takes a
// "Create"/"Copy" result (already +1); retain() keeps a borrowed "Get" result alive. A null
// reference is held as empty and never released (CFRelease(NULL) would crash).
template <typename Ref>
class CFPtr {
public:
    CFPtr() = default;
    static CFPtr adopt(Ref ref) { return CFPtr(ref); }
    static CFPtr retain(Ref ref)
    {
        if (ref)
            CFRetain(ref);
        return CFPtr(ref);
    }
    ~CFPtr() { reset(); }
    CFPtr(CFPtr &&other) noexcept : m_ref(std::exchange(other.m_ref, nullptr)) {}
    CFPtr &operator=(CFPtr &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_ref = std::exchange(other.m_ref, nullptr);
        }
        return *this;
    }
    CFPtr(const CFPtr &) = delete;
    CFPtr &operator=(const CFPtr &) = delete;

    Ref get() const { return m_ref; }
    explicit operator bool() const { return m_ref != nullptr; }
    void reset()
    {
        if (m_ref)
            CFRelease(m_ref);
        m_ref = nullptr;
    }

private:
    explicit CFPtr(Ref ref) : m_ref(ref) {}
    Ref m_ref = nullptr;
};

// Conversions between CoreFoundation values and Qt's. Qt's own (QString::fromCFString, ...) exist only
// in Qt builds for Apple systems; these also build against the stand-in declarations elsewhere. Each
// "...Value" function checks the value's type first: null or a value of another type is nothing.
QString toQString(CFStringRef string);  // empty for null
std::optional<QString> stringValue(CFTypeRef value);
std::optional<QUrl> urlValue(CFTypeRef value);  // the URL made absolute
std::optional<bool> boolValue(CFTypeRef value);
std::optional<QByteArray> dataValue(CFTypeRef value);
CFDictionaryRef dictionaryValue(CFTypeRef value);  // borrowed; null when not a dictionary

CFPtr<CFStringRef> toCFString(const QString &string);
CFPtr<CFDataRef> toCFData(const QByteArray &bytes);

// The borrowed value of a string key, or null when the dictionary is null or lacks the key.
CFTypeRef valueForKey(CFDictionaryRef dictionary, const QString &key);
CFTypeRef valueForKey(CFDictionaryRef dictionary, CFStringRef key);

// An immutable dictionary of CF values (keys and values are retained by it).
CFPtr<CFDictionaryRef> makeDictionary(std::initializer_list<std::pair<CFTypeRef, CFTypeRef> > entries);

}  // namespace fennimar::macos
