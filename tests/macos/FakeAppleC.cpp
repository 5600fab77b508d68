#include "tests/macos/FakeAppleC.h"

#include <atomic>
#include <cstring>

struct CFDictionaryKeyCallBacks {
    int unused;
};
struct CFDictionaryValueCallBacks {
    int unused;
};

namespace fennimar::fake {
namespace {

enum TypeId : CFTypeID {
    StringType = 7,
    ArrayType,
    DictionaryType,
    UrlType,
    BooleanType,
    DataType,
    NumberType,
    ElementType,
    Other
};

std::atomic<long> live{0};

struct Object {
    CFTypeID type;
    QString text;  // String, Url
    bool immortal = false;
    std::atomic<int> refs{1};
    std::vector<CFTypeRef> items;   // Array; Dictionary keys
    std::vector<CFTypeRef> values;  // Dictionary values
    QByteArray bytes;               // Data
    int node = 0;                   // Element; Boolean: its value
    CFTypeRef owned = nullptr;      // Url: its string; Bundle: its Info dictionary
    Object(CFTypeID t, const QString &s, bool forever) : type(t), text(s), immortal(forever) {}
};

Object *obj(CFTypeRef ref)
{
    return static_cast<Object *>(const_cast<void *>(ref));
}

// A new object of this type, +1 (or never freed).
template <typename Ref = CFTypeRef>
Ref create(CFTypeID type, const QString &text = {}, bool immortal = false)
{
    live += immortal ? 0 : 1;
    return reinterpret_cast<Ref>(new Object(type, text, immortal));
}

CFBooleanRef constantBoolean(bool value)
{
    const auto b = create<CFBooleanRef>(BooleanType, {}, true);
    obj(b)->node = value;
    return b;
}

QString textOf(CFTypeRef ref)
{
    return ref && obj(ref)->type == StringType ? obj(ref)->text : QString();
}

std::pair<QString, QString> itemKey(CFDictionaryRef query)
{
    return {textOf(CFDictionaryGetValue(query, kSecAttrService)), textOf(CFDictionaryGetValue(query, kSecAttrAccount))};
}

// An answer to one scripted Accessibility request, +1.
CFTypeRef answerValue(const AXAnswer &answer)
{
    if (const auto *text = std::get_if<QString>(&answer))
        return create(StringType, *text);
    if (const auto *url = std::get_if<AXUrl>(&answer))
        return create(UrlType, url->text);
    if (const auto *node = std::get_if<int>(&answer)) {
        CFTypeRef element = create(AXUIElementGetTypeID());
        obj(element)->node = *node;
        return element;
    }
    if (const auto *nodes = std::get_if<std::vector<int> >(&answer)) {
        auto *o = obj(create(ArrayType));
        for (int n : *nodes)
            o->items.push_back(answerValue(AXAnswer{n}));
        return o;
    }
    return create(NumberType);
}

OSStatus failure(const char *function)
{
    return state().failures.count(function) ? state().failures[function] : 0;
}

}  // namespace

long liveObjects()
{
    return live.load();
}

State &state()
{
    static State s;
    return s;
}

void reset()
{
    State &s = state();
    for (CFTypeRef owned : {CFTypeRef(s.session), CFTypeRef(s.powerSources)})
        if (owned)
            CFRelease(owned);
    for (auto &[path, info] : s.bundles)
        CFRelease(info);
    for (auto &[key, value] : s.preferences)
        CFRelease(value);
    s = State{};
}

CFTypeRef number()
{
    static const CFTypeRef shared = create(NumberType, {}, true);
    return shared;
}

CFArrayRef array(const std::vector<CFTypeRef> &items)
{
    const auto a = create<CFArrayRef>(ArrayType);
    for (CFTypeRef item : items)
        obj(a)->items.push_back(CFRetain(item));
    return a;
}

}  // namespace fennimar::fake

using namespace fennimar::fake;

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = constantBoolean(true);
const CFBooleanRef kCFBooleanFalse = constantBoolean(false);
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{};
const CFStringRef kAXTrustedCheckOptionPrompt = create<CFStringRef>(StringType, "AXTrustedCheckOptionPrompt", true);
const CFStringRef kSecClass = create<CFStringRef>(StringType, "class", true);
const CFStringRef kSecClassGenericPassword = create<CFStringRef>(StringType, "genp", true);
const CFStringRef kSecAttrService = create<CFStringRef>(StringType, "svce", true);
const CFStringRef kSecAttrAccount = create<CFStringRef>(StringType, "acct", true);
const CFStringRef kSecAttrAccessible = create<CFStringRef>(StringType, "pdmn", true);
const CFStringRef kSecAttrAccessibleAfterFirstUnlock = create<CFStringRef>(StringType, "ck", true);
const CFStringRef kSecValueData = create<CFStringRef>(StringType, "v_Data", true);
const CFStringRef kSecReturnData = create<CFStringRef>(StringType, "r_Data", true);
const CFStringRef kSecMatchLimit = create<CFStringRef>(StringType, "m_Limit", true);
const CFStringRef kSecMatchLimitOne = create<CFStringRef>(StringType, "m_LimitOne", true);

CFTypeRef CFRetain(CFTypeRef cf)
{
    ++obj(cf)->refs;
    return cf;
}

void CFRelease(CFTypeRef cf)
{
    Object *o = obj(cf);  // a null here crashes, as on a Mac
    if (--o->refs > 0 || o->immortal)
        return;
    for (CFTypeRef item : o->items)
        CFRelease(item);
    for (CFTypeRef value : o->values)
        CFRelease(value);
    if (o->owned)
        CFRelease(o->owned);
    --live;
    delete o;
}

CFTypeID CFGetTypeID(CFTypeRef cf)
{
    return obj(cf)->type;
}
CFTypeID CFStringGetTypeID(void)
{
    return StringType;
}
CFTypeID CFArrayGetTypeID(void)
{
    return ArrayType;
}
CFTypeID CFDictionaryGetTypeID(void)
{
    return DictionaryType;
}
CFTypeID CFURLGetTypeID(void)
{
    return UrlType;
}
CFTypeID CFBooleanGetTypeID(void)
{
    return BooleanType;
}
CFTypeID CFDataGetTypeID(void)
{
    return DataType;
}
CFTypeID AXUIElementGetTypeID(void)
{
    return ElementType;
}

CFIndex CFStringGetLength(CFStringRef s)
{
    return obj(s)->text.size();
}
void CFStringGetCharacters(CFStringRef s, CFRange range, UniChar *buffer)
{
    std::memcpy(buffer, obj(s)->text.utf16() + range.location, static_cast<size_t>(range.length) * sizeof(UniChar));
}
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar *chars, CFIndex numChars)
{
    return create<CFStringRef>(StringType, QString(reinterpret_cast<const QChar *>(chars), numChars));
}

CFIndex CFArrayGetCount(CFArrayRef a)
{
    return static_cast<CFIndex>(obj(a)->items.size());
}
const void *CFArrayGetValueAtIndex(CFArrayRef a, CFIndex i)
{
    return obj(a)->items.at(static_cast<size_t>(i));
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void **keys, const void **values, CFIndex n,
                                   const CFDictionaryKeyCallBacks *, const CFDictionaryValueCallBacks *)
{
    const auto d = create<CFDictionaryRef>(DictionaryType);
    for (CFIndex i = 0; i < n; ++i) {
        obj(d)->items.push_back(CFRetain(keys[i]));
        obj(d)->values.push_back(CFRetain(values[i]));
    }
    return d;
}
const void *CFDictionaryGetValue(CFDictionaryRef d, const void *key)
{
    const Object *o = obj(d);
    for (size_t i = 0; i < o->items.size(); ++i)
        if (o->items[i] == key || (!textOf(key).isEmpty() && textOf(o->items[i]) == textOf(key)))
            return o->values[i];
    return nullptr;
}

Boolean CFBooleanGetValue(CFBooleanRef b)
{
    return obj(b)->node != 0;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *bytes, CFIndex length)
{
    const auto d = create<CFDataRef>(DataType);
    obj(d)->bytes = QByteArray(reinterpret_cast<const char *>(bytes), length);
    return d;
}
CFIndex CFDataGetLength(CFDataRef d)
{
    return obj(d)->bytes.size();
}
const UInt8 *CFDataGetBytePtr(CFDataRef d)
{
    return reinterpret_cast<const UInt8 *>(obj(d)->bytes.constData());
}

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef path, CFURLPathStyle, Boolean)
{
    return create<CFURLRef>(UrlType, textOf(path));
}
CFURLRef CFURLCopyAbsoluteURL(CFURLRef url)
{
    return create<CFURLRef>(UrlType, obj(url)->text);
}
CFStringRef CFURLGetString(CFURLRef url)
{
    Object *o = obj(url);
    if (!o->owned)
        o->owned = create(StringType, o->text);
    return static_cast<CFStringRef>(o->owned);
}

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef url)
{
    const auto it = state().bundles.find(obj(url)->text);
    if (it == state().bundles.end())
        return nullptr;
    const auto bundle = create<CFBundleRef>(Other);
    obj(bundle)->owned = CFRetain(it->second);
    return bundle;
}
CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key)
{
    return CFDictionaryGetValue(static_cast<CFDictionaryRef>(obj(bundle)->owned), key);
}
CFStringRef CFBundleGetIdentifier(CFBundleRef bundle)
{
    static const auto key = create<CFStringRef>(StringType, "CFBundleIdentifier", true);
    CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(bundle, key);
    return value && obj(value)->type == StringType ? static_cast<CFStringRef>(value) : nullptr;
}

CFTypeRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID)
{
    const auto it = state().preferences.find({textOf(applicationID), textOf(key)});
    return it == state().preferences.end() ? nullptr : CFRetain(it->second);
}
void CFPreferencesSetAppValue(CFStringRef key, CFTypeRef value, CFStringRef applicationID)
{
    CFTypeRef &slot = state().preferences[{textOf(applicationID), textOf(key)}];
    if (slot)
        CFRelease(slot);
    slot = CFRetain(value);
}
Boolean CFPreferencesAppSynchronize(CFStringRef)
{
    return ++state().synchronized > 0;
}

Boolean AXIsProcessTrusted(void)
{
    return state().trusted;
}
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef)
{
    return state().trusted;
}
AXUIElementRef AXUIElementCreateApplication(pid_t)
{
    return create<AXUIElementRef>(AXUIElementGetTypeID());
}
AXUIElementRef AXUIElementCreateSystemWide(void)
{
    const auto element = create<AXUIElementRef>(AXUIElementGetTypeID());
    obj(element)->node = -1;
    return element;
}
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float seconds)
{
    if (obj(element)->node == -1)
        state().systemWideTimeout = seconds;
    return kAXErrorSuccess;
}
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef *value)
{
    State &s = state();
    ++s.requests;
    if (s.onRequest)
        s.onRequest();
    if (!s.trusted)
        return kAXErrorAPIDisabled;
    if (s.answeredRequests >= 0 && s.requests > s.answeredRequests)
        return s.stoppedError;
    const auto node = static_cast<size_t>(obj(element)->node);
    if (node >= s.nodes.size())
        return kAXErrorInvalidUIElement;
    const auto it = s.nodes[node].attributes.find(textOf(attribute));
    if (it == s.nodes[node].attributes.end())
        return kAXErrorNoValue;
    if (const auto *error = std::get_if<AXError>(&it->second))
        return *error;
    *value = answerValue(it->second);
    return kAXErrorSuccess;
}

CFDictionaryRef CGSessionCopyCurrentDictionary(void)
{
    return state().session ? static_cast<CFDictionaryRef>(CFRetain(state().session)) : nullptr;
}
CFTimeInterval CGEventSourceSecondsSinceLastEventType(CGEventSourceStateID, CGEventType)
{
    return state().idleSeconds;
}
CFTypeRef IOPSCopyPowerSourcesInfo(void)
{
    return create(Other);
}
CFArrayRef IOPSCopyPowerSourcesList(CFTypeRef)
{
    return state().powerSources ? static_cast<CFArrayRef>(CFRetain(state().powerSources)) : nullptr;
}
CFDictionaryRef IOPSGetPowerSourceDescription(CFTypeRef, CFTypeRef ps)
{
    return ps && obj(ps)->type == DictionaryType ? static_cast<CFDictionaryRef>(ps) : nullptr;
}
CFStringRef SCDynamicStoreCopyComputerName(SCDynamicStoreRef, CFStringEncoding *)
{
    return nullptr;
}
int sysctlbyname(const char *, void *, size_t *, void *, size_t)
{
    return -1;
}

OSStatus SecItemCopyMatching(CFDictionaryRef query, CFTypeRef *result)
{
    const auto it = state().items.find(itemKey(query));
    if (failure("SecItemCopyMatching") || it == state().items.end())
        return failure("SecItemCopyMatching") ?: -25300;  // errSecItemNotFound
    *result = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(it->second.data.data()), it->second.data.size());
    return 0;
}
OSStatus SecItemAdd(CFDictionaryRef attributes, CFTypeRef *)
{
    if (failure("SecItemAdd") || state().items.count(itemKey(attributes)))
        return failure("SecItemAdd") ?: -25299;  // errSecDuplicateItem
    state().items[itemKey(attributes)] = {obj(CFDictionaryGetValue(attributes, kSecValueData))->bytes,
                                          textOf(CFDictionaryGetValue(attributes, kSecAttrAccessible))};
    return 0;
}
OSStatus SecItemUpdate(CFDictionaryRef query, CFDictionaryRef changes)
{
    const auto it = state().items.find(itemKey(query));
    if (failure("SecItemUpdate") || it == state().items.end())
        return failure("SecItemUpdate") ?: -25300;
    it->second.data = obj(CFDictionaryGetValue(changes, kSecValueData))->bytes;
    return 0;
}
OSStatus SecItemDelete(CFDictionaryRef query)
{
    return failure("SecItemDelete") ?: (state().items.erase(itemKey(query)) ? 0 : -25300);
}
CFStringRef SecCopyErrorMessageString(OSStatus status, void *)
{
    return status == -25308 ? create<CFStringRef>(StringType, "User interaction is not allowed.") : nullptr;
}

}  // extern "C"
