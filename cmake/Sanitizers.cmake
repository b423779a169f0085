# HMD_SANITIZER=address (with undefined) or thread instruments everything this
# build compiles; tests that cannot run under it ask HMD_SANITIZER. fuzzer is
# address and undefined with libFuzzer's coverage (clang only): that build
# registers only the fuzz targets (tests/fuzz).
set(HMD_SANITIZER "" CACHE STRING "Sanitizer for the whole build: address, thread or fuzzer (empty for none)")
set_property(CACHE HMD_SANITIZER PROPERTY STRINGS "" address thread fuzzer)
if(HMD_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(HMD_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(HMD_SANITIZER STREQUAL "fuzzer")
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "HMD_SANITIZER=fuzzer needs clang (libFuzzer), not ${CMAKE_CXX_COMPILER_ID}")
  endif()
  # The fuzz targets themselves link -fsanitize=fuzzer, which brings libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT HMD_SANITIZER STREQUAL "")
  message(FATAL_ERROR "HMD_SANITIZER must be address, thread, fuzzer or empty, not '${HMD_SANITIZER}'")
endif()
