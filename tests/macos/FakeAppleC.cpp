#include "tests/macos/FakeAppleC.h"

#include <algorithm>
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
    BundleType,
    ElementType,
    BlobType
};

std::atomic<long> live{0};

struct Object {
    CFTypeID type;
    std::atomic<int> refs{1};
    bool immortal = false;
    QString text;                   // String, Url
    std::vector<CFTypeRef> items;   // Array; Dictionary keys
    std::vector<CFTypeRef> values;  // Dictionary values
    QByteArray bytes;               // Data
    bool flag = false;              // Boolean
    int node = 0;                   // Element
    CFTypeRef owned = nullptr;      // Url: its string; Bundle: its Info dictionary
    explicit Object(CFTypeID t, bool forever = false) : type(t), immortal(forever)
    {
        if (!immortal)
            ++live;
    }
};

Object *obj(CFTypeRef ref)
{
    return static_cast<Object *>(const_cast<void *>(ref));
}

template <typename Ref>
Ref make(Object *o)
{
    return reinterpret_cast<Ref>(o);
}

CFStringRef constantString(const char *text)
{
    auto *o = new Object(StringType, true);
    o->text = QString::fromLatin1(text);
    return make<CFStringRef>(o);
}

CFStringRef newString(const QString &text)
{
    auto *o = new Object(StringType);
    o->text = text;
    return make<CFStringRef>(o);
}

CFBooleanRef constantBoolean(bool value)
{
    auto *o = new Object(BooleanType, true);
    o->flag = value;
    return make<CFBooleanRef>(o);
}

QString textOf(CFTypeRef ref)
{
    return ref && obj(ref)->type == StringType ? obj(ref)->text : QString();
}

bool sameKey(CFTypeRef a, CFTypeRef b)
{
    if (a == b)
        return true;
    return a && b && obj(a)->type == StringType && obj(b)->type == StringType && obj(a)->text == obj(b)->text;
}

QString dictionaryText(CFDictionaryRef dictionary, CFStringRef key)
{
    return textOf(CFDictionaryGetValue(dictionary, key));
}

// An answer to one scripted Accessibility request, +1.
CFTypeRef answerValue(const AXAnswer &answer)
{
    if (const auto *text = std::get_if<QString>(&answer))
        return newString(*text);
    if (const auto *url = std::get_if<AXUrl>(&answer)) {
        auto *o = new Object(UrlType);
        o->text = url->text;
        return o;
    }
    if (const auto *node = std::get_if<int>(&answer)) {
        auto *o = new Object(ElementType);
        o->node = *node;
        return o;
    }
    if (const auto *nodes = std::get_if<std::vector<int> >(&answer)) {
        std::vector<CFTypeRef> elements;
        for (int n : *nodes)
            elements.push_back(answerValue(AXAnswer{n}));
        CFArrayRef result = array(elements);
        for (CFTypeRef e : elements)
            CFRelease(e);
        return result;
    }
    return new Object(NumberType);
}

OSStatus failure(const char *function)
{
    const auto it = state().failures.find(QString::fromLatin1(function));
    return it == state().failures.end() ? 0 : it->second;
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
    if (s.session)
        CFRelease(s.session);
    if (s.powerSources)
        CFRelease(s.powerSources);
    for (auto &[path, info] : s.bundles)
        CFRelease(info);
    for (auto &[key, value] : s.preferences)
        CFRelease(value);
    s = State{};
}

CFTypeRef number()
{
    static Object *const shared = new Object(NumberType, true);
    return shared;
}

CFArrayRef array(const std::vector<CFTypeRef> &items)
{
    auto *o = new Object(ArrayType);
    for (CFTypeRef item : items)
        o->items.push_back(CFRetain(item));
    return make<CFArrayRef>(o);
}

}  // namespace fennimar::fake

using namespace fennimar::fake;

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = constantBoolean(true);
const CFBooleanRef kCFBooleanFalse = constantBoolean(false);
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{};
const CFStringRef kAXTrustedCheckOptionPrompt = constantString("AXTrustedCheckOptionPrompt");
const CFStringRef kSecClass = constantString("class");
const CFStringRef kSecClassGenericPassword = constantString("genp");
const CFStringRef kSecAttrService = constantString("svce");
const CFStringRef kSecAttrAccount = constantString("acct");
const CFStringRef kSecAttrAccessible = constantString("pdmn");
const CFStringRef kSecAttrAccessibleAfterFirstUnlock = constantString("ck");
const CFStringRef kSecValueData = constantString("v_Data");
const CFStringRef kSecReturnData = constantString("r_Data");
const CFStringRef kSecMatchLimit = constantString("m_Limit");
const CFStringRef kSecMatchLimitOne = constantString("m_LimitOne");

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
    std::memcpy(buffer, obj(s)->text.utf16() + range.location,
                static_cast<std::size_t>(range.length) * sizeof(UniChar));
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar *chars, CFIndex numChars)
{
    return newString(QString(reinterpret_cast<const QChar *>(chars), static_cast<qsizetype>(numChars)));
}

CFIndex CFArrayGetCount(CFArrayRef a)
{
    return static_cast<CFIndex>(obj(a)->items.size());
}
const void *CFArrayGetValueAtIndex(CFArrayRef a, CFIndex i)
{
    return obj(a)->items.at(static_cast<std::size_t>(i));
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void **keys, const void **values, CFIndex n,
                                   const CFDictionaryKeyCallBacks *, const CFDictionaryValueCallBacks *)
{
    auto *o = new Object(DictionaryType);
    for (CFIndex i = 0; i < n; ++i) {
        o->items.push_back(CFRetain(keys[i]));
        o->values.push_back(CFRetain(values[i]));
    }
    return make<CFDictionaryRef>(o);
}

const void *CFDictionaryGetValue(CFDictionaryRef d, const void *key)
{
    const Object *o = obj(d);
    for (std::size_t i = 0; i < o->items.size(); ++i)
        if (sameKey(o->items[i], key))
            return o->values[i];
    return nullptr;
}

Boolean CFBooleanGetValue(CFBooleanRef b)
{
    return obj(b)->flag ? 1 : 0;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *bytes, CFIndex length)
{
    auto *o = new Object(DataType);
    o->bytes = QByteArray(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(length));
    return make<CFDataRef>(o);
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
    auto *o = new Object(UrlType);
    o->text = textOf(path);
    return make<CFURLRef>(o);
}

CFURLRef CFURLCopyAbsoluteURL(CFURLRef url)
{
    auto *o = new Object(UrlType);
    o->text = obj(url)->text;
    return make<CFURLRef>(o);
}

CFStringRef CFURLGetString(CFURLRef url)
{
    Object *o = obj(url);
    if (!o->owned)
        o->owned = newString(o->text);
    return static_cast<CFStringRef>(o->owned);
}

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef url)
{
    const auto it = state().bundles.find(obj(url)->text);
    if (it == state().bundles.end())
        return nullptr;
    auto *o = new Object(BundleType);
    o->owned = CFRetain(it->second);
    return make<CFBundleRef>(o);
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle)
{
    static const CFStringRef key = constantString("CFBundleIdentifier");
    CFTypeRef value = CFDictionaryGetValue(static_cast<CFDictionaryRef>(obj(bundle)->owned), key);
    return value && obj(value)->type == StringType ? static_cast<CFStringRef>(value) : nullptr;
}

CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key)
{
    return CFDictionaryGetValue(static_cast<CFDictionaryRef>(obj(bundle)->owned), key);
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
    ++state().synchronized;
    return 1;
}

Boolean AXIsProcessTrusted(void)
{
    return state().trusted ? 1 : 0;
}

Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options)
{
    CFTypeRef prompt = options ? CFDictionaryGetValue(options, kAXTrustedCheckOptionPrompt) : nullptr;
    if (prompt && obj(prompt)->type == BooleanType && obj(prompt)->flag)
        ++state().prompts;
    return AXIsProcessTrusted();
}

AXUIElementRef AXUIElementCreateApplication(pid_t)
{
    return make<AXUIElementRef>(new Object(ElementType));
}

AXUIElementRef AXUIElementCreateSystemWide(void)
{
    auto *o = new Object(ElementType);
    o->node = -1;
    return make<AXUIElementRef>(o);
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
    const auto node = static_cast<std::size_t>(obj(element)->node);
    if (node >= s.nodes.size())
        return kAXErrorInvalidUIElement;
    const auto &attributes = s.nodes[node].attributes;
    const auto it = attributes.find(textOf(attribute));
    if (it == attributes.end())
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
    return state().powerInfo ? new Object(BlobType) : nullptr;
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
    return state().computerName ? newString(*state().computerName) : nullptr;
}

OSStatus SecItemCopyMatching(CFDictionaryRef query, CFTypeRef *result)
{
    if (OSStatus forced = failure("SecItemCopyMatching"))
        return forced;
    const auto it =
        state().items.find({dictionaryText(query, kSecAttrService), dictionaryText(query, kSecAttrAccount)});
    if (it == state().items.end())
        return -25300;
    *result =
        CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(it->second.data.constData()), it->second.data.size());
    return 0;
}

OSStatus SecItemAdd(CFDictionaryRef attributes, CFTypeRef *)
{
    if (OSStatus forced = failure("SecItemAdd"))
        return forced;
    const std::pair key{dictionaryText(attributes, kSecAttrService), dictionaryText(attributes, kSecAttrAccount)};
    if (state().items.count(key))
        return -25299;  // errSecDuplicateItem
    CFTypeRef data = CFDictionaryGetValue(attributes, kSecValueData);
    state().items[key] = {obj(data)->bytes, dictionaryText(attributes, kSecAttrAccessible)};
    return 0;
}

OSStatus SecItemUpdate(CFDictionaryRef query, CFDictionaryRef changes)
{
    if (OSStatus forced = failure("SecItemUpdate"))
        return forced;
    const auto it =
        state().items.find({dictionaryText(query, kSecAttrService), dictionaryText(query, kSecAttrAccount)});
    if (it == state().items.end())
        return -25300;
    it->second.data = obj(CFDictionaryGetValue(changes, kSecValueData))->bytes;
    return 0;
}

OSStatus SecItemDelete(CFDictionaryRef query)
{
    if (OSStatus forced = failure("SecItemDelete"))
        return forced;
    return state().items.erase({dictionaryText(query, kSecAttrService), dictionaryText(query, kSecAttrAccount)})
               ? 0
               : -25300;
}

CFStringRef SecCopyErrorMessageString(OSStatus status, void *)
{
    if (status == -25308)
        return newString(QStringLiteral("User interaction is not allowed."));
    return nullptr;
}

int sysctlbyname(const char *name, void *oldp, size_t *oldlenp, void *, size_t)
{
    if (std::strcmp(name, "hw.model") != 0 || !state().model)
        return -1;
    const QByteArray &model = *state().model;
    if (oldp)
        std::memcpy(oldp, model.constData(), std::min(*oldlenp, static_cast<size_t>(model.size()) + 1));
    *oldlenp = static_cast<size_t>(model.size()) + 1;
    return 0;
}

}  // extern "C"
