# Identity store, login item and accessibility permission: the rules over the platform interfaces,
# plus the secret store over QtKeychain (portable: Secret Service on Linux, Keychain on macOS).
fennimar_library(fennimar_platform_services
  AccessibilityPermission.cpp AccessibilityPermission.h
  Keychain.cpp Keychain.h
  LoginItem.cpp LoginItem.h
  QtKeychainStore.cpp QtKeychainStore.h
)
target_link_libraries(fennimar_platform_services
  PUBLIC fennimar_platform fennimar_agent_base
  PRIVATE Qt6Keychain::Qt6Keychain Qt6::DBus QCoro6::DBus
)

# The identity record's JSON belongs with the record, in the portable platform library.
target_sources(fennimar_platform PRIVATE PairedIdentity.cpp)
