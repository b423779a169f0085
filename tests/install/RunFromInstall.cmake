# Installs the build into a fresh prefix outside the build tree and runs the
# package as a user of the .deb would, with nothing pointing into the build:
# no installed file names the build tree, helmet-stage stages the installed
# model and video, and helmet-report runs the contract program (16 of 16
# pass), the certification program (every test runs and passes; with fewer
# frames, cycles and photos than its defaults) and the tools: everything passes.
# -DBUILD=<build tree> [-DOBJCOPY=<objcopy>] [-DFAULTY_LIBRARY=<the faulty library of tests/mutants>]
function(run)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "IN" "COMMAND")
  # Only what any shell has: no variable of CTest, the build or its user.
  execute_process(COMMAND /usr/bin/env -i PATH=/usr/bin:/bin HOME=${root} LANG=C.UTF-8
                          OPENCV_VIDEOIO_PRIORITY_GSTREAMER=0 ${arg_COMMAND}
                  WORKING_DIRECTORY ${arg_IN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${arg_COMMAND}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

# In the system's temporary folder, one per build tree.
string(MD5 build_hash "${BUILD}")
set(root /tmp/hmd-install-only-${build_hash})
set(prefix ${root}/prefix)
set(share ${prefix}/share/ZORCustomHelmetDetection)
file(REMOVE_RECURSE ${root})
file(MAKE_DIRECTORY ${root}/run)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()
foreach(expected bin/helmet-stage bin/helmet-report share/ZORCustomHelmetDetection/video/HM2.avi
                 share/ZORCustomHelmetDetection/video/HM2-labels.txt
                 share/ZORCustomHelmetDetection/hard-hat-sample/labels
                 share/ZORCustomHelmetDetection/site-sample/labels)
  if(NOT EXISTS ${prefix}/${expected})
    message(FATAL_ERROR "the install lacks ${expected}")
  endif()
endforeach()

# No program, library or script of the package names the build tree (debug
# information, which records where it was compiled, aside).
string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" build_pattern "${BUILD}")
file(GLOB_RECURSE installed LIST_DIRECTORIES false ${prefix}/bin/* ${prefix}/lib/* ${share}/helmet-report/*)
foreach(file IN LISTS installed)
  if(IS_SYMLINK ${file})
    continue()
  endif()
  file(READ ${file} magic LIMIT 4 HEX)
  set(scanned ${file})
  if(magic STREQUAL "7f454c46" AND OBJCOPY)
    set(scanned ${root}/scanned)
    execute_process(COMMAND ${OBJCOPY} --strip-debug ${file} ${scanned} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${OBJCOPY} cannot read ${file}")
    endif()
  endif()
  file(STRINGS ${scanned} mentions REGEX "${build_pattern}")
  if(mentions)
    message(FATAL_ERROR "${file} names the build tree: ${mentions}")
  endif()
endforeach()
file(REMOVE ${root}/scanned)

run(IN ${root}/run COMMAND ${prefix}/bin/helmet-stage)
if(last_output MATCHES "re-encoded")
  message(FATAL_ERROR "the installed test video was re-encoded; it should be staged as it is:\n${last_output}")
endif()
set(certification ${root}/HelmetCertificationTest-quick)
file(WRITE ${certification}
     "#!/bin/sh\nexec '${prefix}/bin/HelmetCertificationTest' --frames=60 --cycles=20 --photo-count=30 \"$@\"\n")
file(CHMOD ${certification} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
run(IN ${root} COMMAND ${prefix}/bin/helmet-report --staged ${root}/run --certification ${certification}
                       --bench-frames 20 --eval-frames 30 --detect-frames 5 --keep ${root}/report
                       --out ${root}/report.html)
set(report_line "${last_output}")
# The programs' own reports, as helmet-report kept them: the contract's 16
# tests and every certification test ran and passed.
foreach(program contract certification)
  file(READ ${root}/report/${program}.json json)
  string(JSON tests GET "${json}" tests)
  string(JSON failures GET "${json}" failures)
  string(REGEX MATCHALL "\"result\": \"COMPLETED\"" completed "${json}")
  list(LENGTH completed completed)
  if(NOT completed EQUAL tests OR NOT failures EQUAL 0 OR (program STREQUAL "contract" AND NOT tests EQUAL 16))
    # The failure texts name the file and line of each failed assertion.
    string(REGEX MATCHALL "\"failure\": \"([^\"\\]|\\\\.)*\"" failure_texts "${json}")
    string(REPLACE ";" "\n" failure_texts "${failure_texts}")
    message(FATAL_ERROR "the installed ${program} program: ${tests} tests, ${completed} run to the end, "
                        "${failures} failed\n${failure_texts}")
  endif()
endforeach()
file(READ ${root}/report.html page)
if(NOT page MATCHES "class=\"verdict passed\"" OR page MATCHES "${build_pattern}")
  message(FATAL_ERROR "helmet-report's verdict is not a pass, or its page names the build tree:\n${report_line}")
endif()
message(STATUS "${report_line}")

# A vendor's library through LD_LIBRARY_PATH, under the soname the programs
# load: the faulty library with an empty label map, which the installed
# contract program must then be running, and fail.
if(FAULTY_LIBRARY)
  file(MAKE_DIRECTORY ${root}/vendor-lib)
  file(COPY_FILE ${FAULTY_LIBRARY} ${root}/vendor-lib/libZORCustomHelmetDetection.so.1)
  execute_process(COMMAND /usr/bin/env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH=${root}/vendor-lib HMD_FAULT=EmptyLabelMap
                          ${prefix}/bin/HelmetDetectionTest --gtest_filter=HelmetIntegrationTest.InitializeProducesLabelMap
                  WORKING_DIRECTORY ${root}/run RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 1 OR NOT out MATCHES "FAILED  \\] HelmetIntegrationTest.InitializeProducesLabelMap")
    message(FATAL_ERROR "LD_LIBRARY_PATH did not put the faulty library under the installed program (${status}):\n${out}")
  endif()
endif()
file(REMOVE_RECURSE ${root})
