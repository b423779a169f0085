# Registers the GoogleTest cases of an executable as CTest tests named
# PREFIX.Suite.Case and labelled LABELS, so that presets filter on labels;
# ENVIRONMENT (VAR=value items) is set for each.
# Under ThreadSanitizer only the cases matched by CONCURRENCY (a gtest filter)
# run, as one test labelled concurrency: the rest gain nothing from it.
function(hmd_add_gtest_suite target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PREFIX;CONCURRENCY;WORKING_DIRECTORY" "LABELS;ENVIRONMENT")
  set(properties LABELS "${arg_LABELS}")
  if(arg_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${arg_ENVIRONMENT}")
  endif()
  # GoogleTest's and OpenCV's headers are most of what a test file costs to
  # compile. Through a compiler cache the header is not precompiled: its file
  # names the build folder, so every clean clone would miss the cache.
  if(NOT CMAKE_CXX_COMPILER_LAUNCHER)
    target_precompile_headers(${target} PRIVATE <gtest/gtest.h> <opencv2/core.hpp>)
  endif()
  # Our suites' own code is checked, not timed: -O1 builds it in 70% of the
  # time of -O3. The library and the shipped programs keep the build type's.
  if(CMAKE_BUILD_TYPE STREQUAL "Release" AND NOT MSVC)
    target_compile_options(${target} PRIVATE -O1)
  endif()
  if(NOT arg_WORKING_DIRECTORY)
    set(arg_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  if(HMD_SANITIZER STREQUAL "thread")
    if(arg_CONCURRENCY)
      add_test(NAME ${arg_PREFIX}.concurrency COMMAND ${target} --gtest_filter=${arg_CONCURRENCY}
               WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
      set_tests_properties(${arg_PREFIX}.concurrency PROPERTIES ${properties})
      set_property(TEST ${arg_PREFIX}.concurrency APPEND PROPERTY LABELS concurrency)
    endif()
    return()
  endif()
  gtest_discover_tests(${target} TEST_PREFIX ${arg_PREFIX}. DISCOVERY_MODE PRE_TEST
                       WORKING_DIRECTORY ${arg_WORKING_DIRECTORY}
                       PROPERTIES ${properties})
endfunction()

# The paths a test program reads (tests/support/BuildPaths.h), written into one
# source file of the program that the build generates: as compile definitions
# they would name this checkout's folder and keep every file of the program out
# of the compiler cache in a new clone. Keys: TOOL_PROGRAM TEST_MODELS
# SHIPPED_MODEL STAGED_VIDEO SOURCE OTHER_LIBRARY (generator expressions work).
function(hmd_test_paths target)
  set(keys TOOL_PROGRAM TEST_MODELS SHIPPED_MODEL STAGED_VIDEO SOURCE OTHER_LIBRARY)
  set(names kToolProgram kTestModels kShippedModel kStagedVideo kSource kOtherLibrary)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "${keys}" "")
  set(content "#include \"BuildPaths.h\"\n\nnamespace zor::test::paths {\n\n")
  foreach(key name IN ZIP_LISTS keys names)
    if(DEFINED arg_${key} OR key IN_LIST arg_KEYWORDS_MISSING_VALUES)
      string(APPEND content "const char* const ${name} = \"${arg_${key}}\";\n")
    endif()
  endforeach()
  string(APPEND content "\n}  // namespace zor::test::paths\n")
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}Paths.cpp)
  file(GENERATE OUTPUT ${file} CONTENT "${content}")
  target_sources(${target} PRIVATE ${file})
  target_link_libraries(${target} PRIVATE hmd_test_support)
endfunction()
