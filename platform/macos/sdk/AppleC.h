#pragma once

// The C functions of Apple's frameworks that the macOS layer calls: CoreFoundation, the
// Accessibility API (ApplicationServices), CoreGraphics' session and event-source queries, IOKit's
// power sources and power assertions, SystemConfiguration's computer name, the Security framework's
// keychain items, sysctlbyname, the dynamic loader's executable path and a process's program file. On a Mac the real
// SDK headers are used. Elsewhere (a Linux build that compiles the layer and runs it against a fake) the declarations
// below stand in: written from Apple's public reference documentation, declaring only what this layer uses, with the
// documented types, values and ownership rules.

#if __has_include(<CoreFoundation/CoreFoundation.h>)

// AssertMacros.h (pulled in by these headers) would otherwise define check(), verify() and require()
// as macros, which break any later header that uses those words.
#ifndef __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES
#define __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES 0
#endif
#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/ps/IOPowerSources.h>
// The power assertions: the public SDK copy that scripts/check-macos-sdk.sh uses has no pwr_mgt
// headers, so there the one function the layer uses is declared as Apple documents it.
#if __has_include(<IOKit/pwr_mgt/IOPMLib.h>)
#include <IOKit/pwr_mgt/IOPMLib.h>
#endif
#if !__has_include(<IOKit/pwr_mgt/IOPMLib.h>)  // no #else: the SDK check takes the stand-ins after it
#include <IOKit/IOReturn.h>
extern "C" IOReturn IOPMCopyAssertionsByProcess(CFDictionaryRef *AssertionsByPID);
#endif
#include <Security/Security.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <libproc.h>
#include <mach-o/dyld.h>
#include <sys/sysctl.h>

#else

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

extern "C" {

// CoreFoundation: every object is reference counted; "Create"/"Copy" results belong to the caller
// (one CFRelease each), "Get" results are borrowed. CFRelease(NULL) is a crash.
typedef unsigned char Boolean;
typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef uint32_t CFStringEncoding;
typedef uint16_t UniChar;
typedef uint8_t UInt8;
typedef int32_t OSStatus;
typedef double CFTimeInterval;
typedef const void *CFTypeRef;
typedef const struct __CFAllocator *CFAllocatorRef;
typedef const struct __CFString *CFStringRef;
typedef const struct __CFArray *CFArrayRef;
typedef const struct __CFDictionary *CFDictionaryRef;
typedef const struct __CFURL *CFURLRef;
typedef const struct __CFBoolean *CFBooleanRef;
typedef const struct __CFData *CFDataRef;
typedef struct __CFBundle *CFBundleRef;
typedef struct {
    CFIndex location;
    CFIndex length;
} CFRange;
typedef enum : CFIndex { kCFURLPOSIXPathStyle = 0 } CFURLPathStyle;
// Opaque here: only the framework's own kCFTypeDictionary*CallBacks are passed.
typedef struct CFDictionaryKeyCallBacks CFDictionaryKeyCallBacks;
typedef struct CFDictionaryValueCallBacks CFDictionaryValueCallBacks;

extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFStringGetTypeID(void);
CFTypeID CFArrayGetTypeID(void);
CFTypeID CFDictionaryGetTypeID(void);
CFTypeID CFURLGetTypeID(void);
CFTypeID CFBooleanGetTypeID(void);
CFTypeID CFDataGetTypeID(void);

CFIndex CFStringGetLength(CFStringRef theString);
void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar *buffer);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar *chars, CFIndex numChars);

CFIndex CFArrayGetCount(CFArrayRef theArray);
const void *CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void **keys, const void **values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks *keyCallBacks,
                                   const CFDictionaryValueCallBacks *valueCallBacks);
const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key);
CFIndex CFDictionaryGetCount(CFDictionaryRef theDict);
void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void **keys, const void **values);

typedef const struct __CFNumber *CFNumberRef;
typedef enum : CFIndex { kCFNumberIntType = 9 } CFNumberType;
CFTypeID CFNumberGetTypeID(void);
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr);

Boolean CFBooleanGetValue(CFBooleanRef boolean);

CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length);
CFIndex CFDataGetLength(CFDataRef theData);
const UInt8 *CFDataGetBytePtr(CFDataRef theData);

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean isDirectory);
CFURLRef CFURLCopyAbsoluteURL(CFURLRef relativeURL);
CFStringRef CFURLGetString(CFURLRef anURL);

// Preferences of an application's defaults domain. The copy is +1; a set is flushed by synchronize.
CFTypeRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID);
void CFPreferencesSetAppValue(CFStringRef key, CFTypeRef value, CFStringRef applicationID);
Boolean CFPreferencesAppSynchronize(CFStringRef applicationID);
// The keys of a domain for a user and host (+1, NULL when empty); the App functions above act on
// the current user and any host.
extern const CFStringRef kCFPreferencesCurrentUser;
extern const CFStringRef kCFPreferencesAnyHost;
CFArrayRef CFPreferencesCopyKeyList(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName);

// CFBundleCreate may hand back a bundle object that already exists for the URL.
CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef bundleURL);
CFStringRef CFBundleGetIdentifier(CFBundleRef bundle);
CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key);

// Accessibility (ApplicationServices / HIServices).
typedef const struct __AXUIElement *AXUIElementRef;
typedef enum : int32_t {
    kAXErrorSuccess = 0,
    kAXErrorFailure = -25200,
    kAXErrorIllegalArgument = -25201,
    kAXErrorInvalidUIElement = -25202,
    kAXErrorCannotComplete = -25204,
    kAXErrorAttributeUnsupported = -25205,
    kAXErrorNotImplemented = -25208,
    kAXErrorAPIDisabled = -25211,
    kAXErrorNoValue = -25212,
} AXError;

extern CFStringRef kAXTrustedCheckOptionPrompt;  // not const in the SDK either

Boolean AXIsProcessTrusted(void);
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options);
CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXUIElementRef AXUIElementCreateSystemWide(void);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef *value);
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);

// CoreGraphics: the login session and the HID system's input clock.
typedef enum : int32_t {
    kCGEventSourceStatePrivate = -1,
    kCGEventSourceStateCombinedSessionState = 0,
    kCGEventSourceStateHIDSystemState = 1,
} CGEventSourceStateID;
typedef uint32_t CGEventType;
#define kCGAnyInputEventType ((CGEventType)(~0))

CFDictionaryRef CGSessionCopyCurrentDictionary(void);
CFTimeInterval CGEventSourceSecondsSinceLastEventType(CGEventSourceStateID stateID, CGEventType eventType);

// IOKit power sources.
CFTypeRef IOPSCopyPowerSourcesInfo(void);
CFArrayRef IOPSCopyPowerSourcesList(CFTypeRef blob);
CFDictionaryRef IOPSGetPowerSourceDescription(CFTypeRef blob, CFTypeRef ps);
// IOKit power management: the assertions each process holds, a dictionary from the pid (CFNumber)
// to an array of dictionaries ("AssertType", "AssertLevel", "AssertName", ...); the caller releases it.
typedef int IOReturn;
#define kIOReturnSuccess 0
IOReturn IOPMCopyAssertionsByProcess(CFDictionaryRef *AssertionsByPID);

// SystemConfiguration: the computer name from the local dynamic store (no network).
typedef const struct __SCDynamicStore *SCDynamicStoreRef;
CFStringRef SCDynamicStoreCopyComputerName(SCDynamicStoreRef store, CFStringEncoding *nameEncoding);

// Security: keychain items.
extern const CFStringRef kSecClass;
extern const CFStringRef kSecClassGenericPassword;
extern const CFStringRef kSecAttrService;
extern const CFStringRef kSecAttrAccount;
extern const CFStringRef kSecAttrAccessible;
extern const CFStringRef kSecAttrAccessibleAfterFirstUnlock;
extern const CFStringRef kSecValueData;
extern const CFStringRef kSecReturnData;
extern const CFStringRef kSecMatchLimit;
extern const CFStringRef kSecMatchLimitOne;

OSStatus SecItemCopyMatching(CFDictionaryRef query, CFTypeRef *result);
OSStatus SecItemAdd(CFDictionaryRef attributes, CFTypeRef *result);
OSStatus SecItemUpdate(CFDictionaryRef query, CFDictionaryRef attributesToUpdate);
OSStatus SecItemDelete(CFDictionaryRef query);
CFStringRef SecCopyErrorMessageString(OSStatus status, void *reserved);

// BSD system control by name: with oldp null, *oldlenp receives the value's size.
int sysctlbyname(const char *name, void *oldp, size_t *oldlenp, void *newp, size_t newlen);

// The dynamic loader's path of the main executable: 0 and the path, or -1 with *bufsize set to the
// size needed (terminating NUL included) when the buffer is too small.
int _NSGetExecutablePath(char *buf, uint32_t *bufsize);

// The program file of a process: the path's length in bytes, or 0 or less (errno set) when the
// process is gone or may not be asked about. The buffer must hold PROC_PIDPATHINFO_MAXSIZE bytes.
#define PROC_PIDPATHINFO_MAXSIZE 4096
int proc_pidpath(int pid, void *buffer, uint32_t buffersize);

}  // extern "C"

#endif
