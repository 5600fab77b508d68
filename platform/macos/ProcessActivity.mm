#include "platform/macos/ProcessActivity.h"

#include "platform/macos/sdk/AppKitObjC.h"

namespace fennimar::macos {

void holdProcessActivity()
{
    // Never ended: the activity is the process's own, and the system ends it with the process.
    static id activity = [NSProcessInfo.processInfo
        beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                          reason:[NSString stringWithUTF8String:"Counting screen time every second"]];
    (void)activity;
}

}  // namespace fennimar::macos
