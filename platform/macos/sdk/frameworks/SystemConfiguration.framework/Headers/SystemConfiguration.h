// Stand-in for SystemConfiguration's header, which the public copy of the SDK that
// scripts/check-macos-sdk.sh compiles against does not have: the dynamic store's computer name as
// Apple's reference documents it, limited to what the device facts use. A Mac's SDK has the real
// header.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

CF_EXTERN_C_BEGIN
CF_ASSUME_NONNULL_BEGIN

typedef const struct CF_BRIDGED_TYPE(id) __SCDynamicStore *SCDynamicStoreRef;

// The computer name (+1), or NULL; store NULL asks a temporary session, nameEncoding may be NULL.
CFStringRef _Nullable SCDynamicStoreCopyComputerName(SCDynamicStoreRef _Nullable store,
                                                     CFStringEncoding *_Nullable nameEncoding)
    API_AVAILABLE(macos(10.1));

CF_ASSUME_NONNULL_END
CF_EXTERN_C_END
