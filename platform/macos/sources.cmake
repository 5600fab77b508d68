# The macOS layer's files, shared by its own build (on a Mac) and the Linux build that compiles the
# C++ ones against the stand-in declarations and runs them on a fake (tests/platform/macos).
set(FENNIMAR_MACOS_CXX_SOURCES
  AXElementTree.cpp AXElementTree.h
  BundleCatalog.cpp BundleCatalog.h
  LoginServiceStatus.cpp LoginServiceStatus.h
  MacAccessibility.cpp MacAccessibility.h
  MacDeviceFacts.cpp MacDeviceFacts.h
  MacKeychainStore.cpp MacKeychainStore.h
  MacSession.cpp MacSession.h
  sdk/AppleC.h
)
# In the platform library itself on a Mac (the settings use them).
set(FENNIMAR_MACOS_BASE_SOURCES CFHelpers.cpp CFHelpers.h UserSettings.cpp)
# The desktop needs the interface with secondsSinceInput() as an optional and samplingProblem().
set(FENNIMAR_MACOS_DESKTOP_SOURCES MacDesktop.cpp MacDesktop.h DisplayAssertions.cpp DisplayAssertions.h)
# Only what has no C API: the frontmost application, the login item and the process's activity.
set(FENNIMAR_MACOS_OBJCXX_SOURCES FrontmostApp.mm MacLoginService.mm ProcessActivity.mm)
