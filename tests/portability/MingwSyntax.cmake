# Compiles each source with MinGW-w64 (-fsyntax-only), against the same OpenCV
# and GoogleTest headers as the Linux build, so that what builds on Windows
# keeps building. -DCXX=... -DSOURCES=a;b -DINCLUDES=a;b -DWORK=dir
file(REMOVE_RECURSE ${WORK})
# GoogleTest's and oneDNN's headers live in /usr/include, whose glibc headers
# must stay out.
file(MAKE_DIRECTORY ${WORK}/include)
foreach(header_dir gtest gmock oneapi)
  if(EXISTS /usr/include/${header_dir})
    file(CREATE_LINK /usr/include/${header_dir} ${WORK}/include/${header_dir} SYMBOLIC)
  endif()
endforeach()
set(flags -std=c++20 -fsyntax-only -Wall -Wextra
          -DHELMET_BENCH_DEFAULT_MODEL="m" -DHELMET_BENCH_DEFAULT_VIDEO="v"
          -DHELMET_DETECT_DEFAULT_MODEL="m" -DHELMET_EVAL_DEFAULT_MODEL="m" -isystem ${WORK}/include)
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags -I${dir})
endforeach()
foreach(dir /usr/include/opencv4 /usr/include/x86_64-linux-gnu/opencv4)
  list(APPEND flags -isystem ${dir})
endforeach()
set(failed "")
foreach(source IN LISTS SOURCES)
  # The library's own sources export what its header imports elsewhere.
  set(own "")
  if(source MATCHES "/src/detector/")
    set(own -DZOR_HELMET_DETECTION_BUILD)
  endif()
  execute_process(COMMAND ${CXX} ${flags} ${own} ${source} RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT status EQUAL 0 OR err MATCHES "warning:")
    list(APPEND failed ${source})
    message("${source}:\n${err}")
  endif()
endforeach()
list(LENGTH SOURCES count)
if(failed)
  message(FATAL_ERROR "MinGW-w64 rejects (or warns on) these sources:\n${failed}")
endif()
message(STATUS "MinGW-w64 accepts all ${count} sources")
