#pragma once

// The Objective-C classes the macOS layer sends messages to: AppKit's workspace and running
// applications, Foundation's process activities, ServiceManagement's app service, and the Foundation classes they hand
// back. On a Mac the real SDK headers are imported. Elsewhere (the syntax check of the .mm files on Linux) the
// declarations below stand in, written from Apple's public reference documentation and limited to
// the properties and methods used here.

#if __has_include(<AppKit/AppKit.h>)

#ifndef __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES
#define __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES 0
#endif
#import <AppKit/AppKit.h>
#import <ServiceManagement/ServiceManagement.h>

#else

#include <sys/types.h>

typedef signed char BOOL;
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#ifndef nil
#define nil nullptr
#endif
typedef long NSInteger;
typedef unsigned long NSUInteger;

__attribute__((objc_root_class))
@interface NSObject
+ (instancetype)alloc;
- (instancetype)init;
@end

@interface NSString : NSObject
+ (instancetype)stringWithUTF8String:(const char *)nullTerminatedCString;
@property(readonly) NSUInteger length;
@property(readonly) const char *UTF8String;
@end

typedef enum : unsigned long long {
    NSActivityIdleSystemSleepDisabled = (1ULL << 20),
    NSActivityUserInitiated = (0x00FFFFFFULL | NSActivityIdleSystemSleepDisabled),
    NSActivityUserInitiatedAllowingIdleSystemSleep = (NSActivityUserInitiated & ~NSActivityIdleSystemSleepDisabled),
} NSActivityOptions;

@interface NSProcessInfo : NSObject
@property(class, readonly, strong) NSProcessInfo *processInfo;
- (id)beginActivityWithOptions:(NSActivityOptions)options reason:(NSString *)reason;
@end

@interface NSURL : NSObject
@property(readonly, copy) NSString *path;
@end

@interface NSError : NSObject
@property(readonly, copy) NSString *localizedDescription;
@end

@interface NSRunningApplication : NSObject
@property(readonly, copy) NSString *bundleIdentifier;
@property(readonly, copy) NSURL *bundleURL;
@property(readonly, copy) NSString *localizedName;
@property(readonly) pid_t processIdentifier;
@end

@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace *sharedWorkspace;
@property(readonly, strong) NSRunningApplication *frontmostApplication;
@end

typedef enum : NSInteger {
    SMAppServiceStatusNotRegistered = 0,
    SMAppServiceStatusEnabled = 1,
    SMAppServiceStatusRequiresApproval = 2,
    SMAppServiceStatusNotFound = 3,
} SMAppServiceStatus;

__attribute__((availability(macos, introduced = 13.0)))
@interface SMAppService : NSObject
+ (SMAppService *)agentServiceWithPlistName:(NSString *)plistName;
+ (void)openSystemSettingsLoginItems;
- (BOOL)registerAndReturnError:(NSError **)error;
- (BOOL)unregisterAndReturnError:(NSError **)error;
@property(readonly) SMAppServiceStatus status;
@end

#endif
