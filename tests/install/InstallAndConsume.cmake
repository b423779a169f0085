# Installs the build into a fresh prefix, builds the consumer project against
# it with find_package, runs the consumer on the installed model, and runs the
# installed contract program on the installed model with the staged video, and
# the installed certification program (where the tools are built) there too.
# -DBUILD=... -DPREFIX=... -DCONSUMER=... -DVIDEO=... -DVIDEO_LABELS=... -DSTAGE=... -DCHECKER=... -DPYTHON=...
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "${out}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${PREFIX})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX})
foreach(expected include/IZORCustomClass.h include/ZORCustomHMD.h bin/HelmetDetectionTest
                 share/ZORCustomHelmetDetection/models/ZOR_Helmet/model.yml share/ZORCustomHelmetDetection/README.md
                 share/ZORCustomHelmetDetection/docs/contract.md)
  if(NOT EXISTS ${PREFIX}/${expected})
    message(FATAL_ERROR "the install lacks ${expected}")
  endif()
endforeach()

# Only the prefix: no hint of the build tree.
run(${CMAKE_COMMAND} -S ${CONSUMER} -B ${PREFIX}-consumer -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${PREFIX}-consumer)
set(model ${PREFIX}/share/ZORCustomHelmetDetection/models/ZOR_Helmet)
run(${PREFIX}-consumer/helmet-consumer ${model})
if(NOT last_output MATCHES "labels=helmet,head detections=0")
  message(FATAL_ERROR "unexpected consumer output: ${last_output}")
endif()
# The consumer must have loaded the installed library, not the build's.
run(ldd ${PREFIX}-consumer/helmet-consumer)
if(NOT last_output MATCHES "${PREFIX}/[^ ]*libZORCustomHelmetDetection")
  message(FATAL_ERROR "the consumer does not use the installed library:\n${last_output}")
endif()

run(${CMAKE_COMMAND} -DMODEL=${model} -DVIDEO=${VIDEO} -DDEST=${PREFIX}-staged -P ${STAGE})
run(${PYTHON} ${CHECKER} --program ${PREFIX}/bin/HelmetDetectionTest --workdir ${PREFIX}-staged --scenario staged)

# The certification program as a platform team runs it from the install, with
# the installed photo sample and fewer frames and cycles than its defaults.
set(certification ${PREFIX}/bin/HelmetCertificationTest)
if(EXISTS ${certification})
  execute_process(COMMAND ${certification} --photos=${PREFIX}/share/ZORCustomHelmetDetection/hard-hat-sample
                          --video-labels=${VIDEO_LABELS} --frames=60 --cycles=20
                  WORKING_DIRECTORY ${PREFIX}-staged RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX MATCH "Running ([0-9]+) tests" ran "${out}")
  set(ran ${CMAKE_MATCH_1})
  if(NOT status EQUAL 0 OR NOT ran OR NOT out MATCHES "PASSED  \\] ${ran} tests" OR out MATCHES "SKIPPED")
    message(FATAL_ERROR "the installed certification program did not pass all its tests (${status}):\n${out}\n${err}")
  endif()
endif()
