# HMD_SANITIZER=address (with undefined) or thread instruments everything this
# build compiles; tests that cannot run under it ask HMD_SANITIZER.
set(HMD_SANITIZER "" CACHE STRING "Sanitizer for the whole build: address or thread (empty for none)")
set_property(CACHE HMD_SANITIZER PROPERTY STRINGS "" address thread)
if(HMD_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(HMD_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT HMD_SANITIZER STREQUAL "")
  message(FATAL_ERROR "HMD_SANITIZER must be address, thread or empty, not '${HMD_SANITIZER}'")
endif()
