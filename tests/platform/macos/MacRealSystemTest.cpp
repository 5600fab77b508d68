// The macOS layer on the Mac it runs on (the hosted macOS runner or a developer's Mac): the answers
// only a real system gives. The keychain and the login item are left out, because on an unsigned
// test binary they prompt or refuse.

#include "core/VirtualClock.h"
#include "platform/macos/MacAccessibility.h"
#include "platform/macos/MacSession.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace fennimar::macos {
namespace {

TEST(MacRealSystem, InputAndAccessibilityWithoutTheGrant)
{
    EXPECT_TRUE(secondsSinceInput().has_value());
    VirtualClock clock;
    MacAccessibility accessibility(clock, {});
    EXPECT_TRUE(accessibility.isTrusted() || accessibility.readAddress(::getpid()) == AddressOutcome::noPermission());
}

}  // namespace
}  // namespace fennimar::macos
