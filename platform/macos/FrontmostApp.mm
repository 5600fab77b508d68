#include "platform/macos/FrontmostApp.h"

#include "platform/macos/sdk/AppKitObjC.h"

namespace fennimar::macos {

namespace {
QString toQString(NSString *string)
{
    return string ? QString::fromUtf8(string.UTF8String) : QString();
}
}  // namespace

std::optional<RunningApp> frontmostApplication()
{
    @autoreleasepool {
        NSRunningApplication *app = NSWorkspace.sharedWorkspace.frontmostApplication;
        if (app == nil)
            return std::nullopt;
        RunningApp running;
        running.identifier = toQString(app.bundleIdentifier);
        running.pid = app.processIdentifier;
        running.displayName = toQString(app.localizedName);
        running.location = toQString(app.bundleURL.path);
        return running;
    }
}

}  // namespace fennimar::macos
