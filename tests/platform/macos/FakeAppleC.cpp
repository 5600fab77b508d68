#include "tests/platform/macos/FakeAppleC.h"

#include <algorithm>
#include <atomic>
#include <cstring>

struct CFDictionaryKeyCallBacks {};
struct CFDictionaryValueCallBacks {};

namespace fennimar::fake {
namespace {

enum TypeId : CFTypeID { StringT = 7, ArrayT, DictT, UrlT, BoolT, DataT, ElementT, NumberT };

std::atomic<long> live{0};

struct Object {
    CFTypeID type;
    QString text;  // String, Url
    bool immortal = false;
    std::atomic<int> refs{1};
    std::vector<CFTypeRef> items;   // Array; Dictionary keys
    std::vector<CFTypeRef> values;  // Dictionary values
    QByteArray bytes;               // Data
    int node;                       // Element; Boolean: its value
    CFTypeRef owned = nullptr;      // Url: its string
    Object(CFTypeID t, const QString &s, bool forever, int n) : type(t), text(s), immortal(forever), node(n) {}
};

Object *obj(CFTypeRef ref)
{
    return static_cast<Object *>(const_cast<void *>(ref));
}

// A new object of this type, +1 (or never freed).
template <typename Ref = CFTypeRef>
Ref create(CFTypeID type, const QString &text = {}, bool immortal = false, int node = 0)
{
    live += immortal ? 0 : 1;
    return reinterpret_cast<Ref>(new Object(type, text, immortal, node));
}

QString textOf(CFTypeRef ref)
{
    return ref && obj(ref)->type == StringT ? obj(ref)->text : QString();
}

std::pair<QString, QString> itemKey(CFDictionaryRef query)
{
    return {textOf(CFDictionaryGetValue(query, kSecAttrService)), textOf(CFDictionaryGetValue(query, kSecAttrAccount))};
}

// An answer to one scripted Accessibility request, +1.
CFTypeRef answerValue(const AXAnswer &answer)
{
    if (const auto *text = std::get_if<QString>(&answer))
        return create(StringT, *text);
    if (const auto *node = std::get_if<int>(&answer))
        return create(ElementT, {}, false, *node);
    if (const auto *nodes = std::get_if<std::vector<int> >(&answer)) {
        auto *o = obj(create(ArrayT));
        for (int n : *nodes)
            o->items.push_back(answerValue(AXAnswer{n}));
        return o;
    }
    return create(UrlT, std::get<AXUrl>(answer).text);
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
    state() = State{};
}

}  // namespace fennimar::fake

using namespace fennimar::fake;

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = create<CFBooleanRef>(BoolT, {}, true, 1);
const CFBooleanRef kCFBooleanFalse = create<CFBooleanRef>(BoolT, {}, true, 0);
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{};
CFStringRef kAXTrustedCheckOptionPrompt = create<CFStringRef>(StringT, "AXTrustedCheckOptionPrompt", true);
const CFStringRef kSecClass = create<CFStringRef>(StringT, "class", true);
const CFStringRef kSecClassGenericPassword = create<CFStringRef>(StringT, "genp", true);
const CFStringRef kSecAttrService = create<CFStringRef>(StringT, "svce", true);
const CFStringRef kSecAttrAccount = create<CFStringRef>(StringT, "acct", true);
const CFStringRef kSecAttrAccessible = create<CFStringRef>(StringT, "pdmn", true);
const CFStringRef kSecAttrAccessibleAfterFirstUnlock = create<CFStringRef>(StringT, "ck", true);
const CFStringRef kSecValueData = create<CFStringRef>(StringT, "v_Data", true);
const CFStringRef kSecReturnData = create<CFStringRef>(StringT, "r_Data", true);
const CFStringRef kSecMatchLimit = create<CFStringRef>(StringT, "m_Limit", true);
const CFStringRef kSecMatchLimitOne = create<CFStringRef>(StringT, "m_LimitOne", true);

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

// Each type answers its own id.
#define FAKE_TYPE_ID(function, id) \
    CFTypeID function(void)        \
    {                              \
        return id;                 \
    }
FAKE_TYPE_ID(CFStringGetTypeID, StringT)
FAKE_TYPE_ID(CFArrayGetTypeID, ArrayT)
FAKE_TYPE_ID(CFDictionaryGetTypeID, DictT)
FAKE_TYPE_ID(CFURLGetTypeID, UrlT)
FAKE_TYPE_ID(CFBooleanGetTypeID, BoolT)
FAKE_TYPE_ID(CFDataGetTypeID, DataT)
FAKE_TYPE_ID(AXUIElementGetTypeID, ElementT)
FAKE_TYPE_ID(CFNumberGetTypeID, NumberT)

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void *value)
{
    *static_cast<int *>(value) = obj(number)->node;
    return type == kCFNumberIntType;
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
    return create<CFStringRef>(StringT, QString(reinterpret_cast<const QChar *>(chars), numChars));
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
    const auto d = create<CFDictionaryRef>(DictT);
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

CFIndex CFDictionaryGetCount(CFDictionaryRef d)
{
    return static_cast<CFIndex>(obj(d)->items.size());
}
void CFDictionaryGetKeysAndValues(CFDictionaryRef d, const void **keys, const void **values)
{
    std::copy(obj(d)->items.begin(), obj(d)->items.end(), keys);
    std::copy(obj(d)->values.begin(), obj(d)->values.end(), values);
}

IOReturn IOPMCopyAssertionsByProcess(CFDictionaryRef *byPid)
{
    const auto put = [](Object *dict, CFTypeRef key, CFTypeRef value) {
        dict->items.push_back(key);
        dict->values.push_back(value);
    };
    if (state().assertionsFailure)
        return state().assertionsFailure;
    auto *d = obj(create(DictT));
    for (const auto &[pid, held] : state().assertions) {
        auto *list = obj(create(ArrayT));
        put(d, create(NumberT, {}, false, pid), list);
        for (const auto &[type, level] : held) {
            auto *assertion = obj(create(DictT));
            put(assertion, create(StringT, "AssertType"), create(StringT, type));
            if (level >= 0)
                put(assertion, create(StringT, "AssertLevel"), create(NumberT, {}, false, level));
            list->items.push_back(assertion);
        }
    }
    *byPid = reinterpret_cast<CFDictionaryRef>(d);
    return kIOReturnSuccess;
}

Boolean CFBooleanGetValue(CFBooleanRef b)
{
    return obj(b)->node != 0;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *bytes, CFIndex length)
{
    const auto d = create<CFDataRef>(DataT);
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

CFURLRef CFURLCopyAbsoluteURL(CFURLRef url)
{
    return create<CFURLRef>(UrlT, obj(url)->text);
}
CFStringRef CFURLGetString(CFURLRef url)
{
    Object *o = obj(url);
    if (!o->owned)
        o->owned = create(StringT, o->text);
    return static_cast<CFStringRef>(o->owned);
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
    return create<AXUIElementRef>(ElementT);
}
AXUIElementRef AXUIElementCreateSystemWide(void)
{
    return create<AXUIElementRef>(ElementT, {}, false, -1);
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
    return state().session ? static_cast<CFDictionaryRef>(CFRetain(state().session.get())) : nullptr;
}
CFTimeInterval CGEventSourceSecondsSinceLastEventType(CGEventSourceStateID, CGEventType)
{
    return 0;
}

OSStatus SecItemCopyMatching(CFDictionaryRef query, CFTypeRef *result)
{
    const auto it = state().items.find(itemKey(query));
    if (it == state().items.end())
        return -25300;  // errSecItemNotFound
    *result = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(it->second.data.data()), it->second.data.size());
    return 0;
}
OSStatus SecItemAdd(CFDictionaryRef attributes, CFTypeRef *)
{
    if (state().items.count(itemKey(attributes)))
        return -25299;  // errSecDuplicateItem
    state().items[itemKey(attributes)] = {obj(CFDictionaryGetValue(attributes, kSecValueData))->bytes,
                                          textOf(CFDictionaryGetValue(attributes, kSecAttrAccessible))};
    return 0;
}
OSStatus SecItemUpdate(CFDictionaryRef query, CFDictionaryRef changes)
{
    const auto it = state().items.find(itemKey(query));
    if (state().updateFailure || it == state().items.end())
        return state().updateFailure ?: -25300;
    it->second.data = obj(CFDictionaryGetValue(changes, kSecValueData))->bytes;
    return 0;
}
OSStatus SecItemDelete(CFDictionaryRef query)
{
    return state().items.erase(itemKey(query)) ? 0 : -25300;
}
CFStringRef SecCopyErrorMessageString(OSStatus status, void *)
{
    return status == -25308 ? create<CFStringRef>(StringT, "User interaction is not allowed.") : nullptr;
}

}  // extern "C"
