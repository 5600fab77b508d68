# Identity store, login item, accessibility permission and the single-instance lock: the rules over
# the platform interfaces. On Linux also the secret store over QtKeychain and the Secret Service; the
# macOS layer has its own over the Security framework.
fennimar_library(fennimar_platform_services
  AccessibilityPermission.cpp AccessibilityPermission.h
  Keychain.cpp Keychain.h
  LockFileInstance.cpp LockFileInstance.h
  LoginItem.cpp LoginItem.h
)
target_link_libraries(fennimar_platform_services PUBLIC fennimar_platform fennimar_agent_base)
if(FENNIMAR_PLATFORM STREQUAL "linux")
  target_sources(fennimar_platform_services PRIVATE QtKeychainStore.cpp QtKeychainStore.h)
  target_link_libraries(fennimar_platform_services PRIVATE Qt6Keychain::Qt6Keychain Qt6::DBus QCoro6::DBus)
endif()

# The identity record's JSON belongs with the record, in the portable platform library.
target_sources(fennimar_platform PRIVATE PairedIdentity.cpp)
