// Stand-in for ServiceManagement's header, which the public copy of the SDK that
// scripts/check-macos-sdk.sh compiles against does not have: SMAppService as Apple's reference
// documents it (macOS 13), limited to what the login item uses. A Mac's SDK has the real header.
#pragma once

#import <Foundation/Foundation.h>

typedef NS_ENUM(NSInteger, SMAppServiceStatus) {
    SMAppServiceStatusNotRegistered = 0,
    SMAppServiceStatusEnabled = 1,
    SMAppServiceStatusRequiresApproval = 2,
    SMAppServiceStatusNotFound = 3,
} API_AVAILABLE(macos(13.0));

NS_ASSUME_NONNULL_BEGIN

API_AVAILABLE(macos(13.0))
@interface SMAppService : NSObject
+ (instancetype)agentServiceWithPlistName:(NSString *)plistName;
+ (void)openSystemSettingsLoginItems;
- (BOOL)registerAndReturnError:(NSError **)error;
- (BOOL)unregisterAndReturnError:(NSError **)error;
@property(readonly) SMAppServiceStatus status;
@end

NS_ASSUME_NONNULL_END
