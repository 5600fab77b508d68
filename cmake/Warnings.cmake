# Project-wide compile settings applied to every target defined after this file is included.
add_compile_options(-Wall -Wextra -Wshadow -Wconversion)
if(FENNIMAR_WERROR)
  add_compile_options(-Werror)
endif()
# Qt's signal keywords clash with names we use (Log::emit); the Q_ macros stay available.
add_compile_definitions(QT_NO_KEYWORDS)
if(FENNIMAR_SANITIZE AND FENNIMAR_TSAN)
  message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer: choose one")
endif()
if(FENNIMAR_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(FENNIMAR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# A library of this project: static, with its folder as include root for its dependents.
function(fennimar_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
