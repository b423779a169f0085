# Compiles each source with MinGW-w64, against the same OpenCV and GoogleTest
# headers as the Linux build, so that what builds on Windows keeps building.
# Through the build's compiler cache when it has one (LAUNCHER): a source
# that did not change is not compiled again, and its warnings come back from
# the cache. -DCXX=... -DSOURCES=a;b -DINCLUDES=a;b -DWORK=dir [-DLAUNCHER=ccache]
file(REMOVE_RECURSE ${WORK})
# GoogleTest's and oneDNN's headers live in /usr/include, whose glibc headers
# must stay out.
file(MAKE_DIRECTORY ${WORK}/include)
foreach(header_dir gtest gmock oneapi)
  if(EXISTS /usr/include/${header_dir})
    file(CREATE_LINK /usr/include/${header_dir} ${WORK}/include/${header_dir} SYMBOLIC)
  endif()
endforeach()
set(flags -std=c++20 -c -Wall -Wextra -isystem ${WORK}/include)
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
  get_filename_component(name ${source} NAME_WE)
  execute_process(COMMAND ${LAUNCHER} ${CXX} ${flags} ${own} ${source} -o ${WORK}/${name}.o
                  RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
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
