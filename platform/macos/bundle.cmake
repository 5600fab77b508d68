# fennimar_macos_bundle(<target>): makes the agent an application bundle, Fennimar.app, with our own
# Info.plist (no Dock icon: LSUIElement) and the launch agent that ServiceManagement registers for
# start at login, Contents/Library/LaunchAgents/app.fennimar.Agent.plist.
set(FENNIMAR_BUNDLE_ID "app.fennimar.Agent")  # platform::AgentBundleID
set(FENNIMAR_MACOS_BUNDLE_DIR ${CMAKE_CURRENT_LIST_DIR})

function(fennimar_macos_bundle target)
  set(FENNIMAR_EXECUTABLE Fennimar)
  set_target_properties(${target} PROPERTIES
    MACOSX_BUNDLE TRUE
    OUTPUT_NAME ${FENNIMAR_EXECUTABLE}
    MACOSX_BUNDLE_INFO_PLIST ${FENNIMAR_MACOS_BUNDLE_DIR}/Info.plist.in
    MACOSX_BUNDLE_EXECUTABLE_NAME ${FENNIMAR_EXECUTABLE}
    MACOSX_BUNDLE_GUI_IDENTIFIER ${FENNIMAR_BUNDLE_ID}
    MACOSX_BUNDLE_BUNDLE_NAME Fennimar
    MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
    MACOSX_BUNDLE_BUNDLE_VERSION ${FENNIMAR_BUILD_NUMBER})
  set(agent_plist ${CMAKE_CURRENT_BINARY_DIR}/${FENNIMAR_BUNDLE_ID}.plist)
  configure_file(${FENNIMAR_MACOS_BUNDLE_DIR}/LaunchAgent.plist.in ${agent_plist} @ONLY)
  target_sources(${target} PRIVATE ${agent_plist})
  set_source_files_properties(${agent_plist} PROPERTIES MACOSX_PACKAGE_LOCATION Library/LaunchAgents)
endfunction()
