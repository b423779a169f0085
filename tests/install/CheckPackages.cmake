# Runs CPack on the build and checks that the .deb and the .tar.gz hold the
# library, its CMake package, the headers, the programs, the model, the test
# video with its labels and the photo samples.
# -DBUILD=... -DTOOLS=ON|OFF (whether the tools were built)
execute_process(COMMAND cpack -B ${BUILD}/packages WORKING_DIRECTORY ${BUILD} RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${out}${err}")
endif()
file(GLOB deb ${BUILD}/packages/*.deb)
file(GLOB tgz ${BUILD}/packages/*.tar.gz)
if(NOT deb OR NOT tgz)
  message(FATAL_ERROR "cpack made no .deb or no .tar.gz:\n${out}")
endif()
execute_process(COMMAND dpkg-deb --contents ${deb} OUTPUT_VARIABLE deb_list RESULT_VARIABLE status)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${tgz} OUTPUT_VARIABLE tgz_list)
set(expected_files include/ZORCustomHMD.h include/IZORCustomClass.h
                   /libZORCustomHelmetDetection.so
                   /cmake/ZORCustomHelmetDetection/ZORCustomHelmetDetectionConfig.cmake
                   /cmake/ZORCustomHelmetDetection/ZORCustomHelmetDetectionConfigVersion.cmake
                   bin/HelmetDetectionTest share/ZORCustomHelmetDetection/models/ZOR_Helmet/helmet.onnx
                   share/ZORCustomHelmetDetection/video/HM2.avi share/ZORCustomHelmetDetection/video/HM2-labels.txt)
if(TOOLS)
  list(APPEND expected_files bin/helmet-bench bin/helmet-detect bin/helmet-report bin/helmet-stage
                             bin/HelmetCertificationTest share/ZORCustomHelmetDetection/hard-hat-sample/labels
                             share/ZORCustomHelmetDetection/site-sample/labels
                             share/ZORCustomHelmetDetection/helmet-report/helmet_report.py)
endif()
foreach(expected IN LISTS expected_files)
  foreach(kind deb tgz)
    string(FIND "${${kind}_list}" "${expected}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the ${kind} package lacks ${expected}:\n${${kind}_list}")
    endif()
  endforeach()
endforeach()
message(STATUS "${deb}:\n${deb_list}")
