# The SDK layout: include/, lib/ with the library and its CMake package,
# bin/ with the contract and certification programs and the tools, share/
# with the shipped model, the test video and the photo samples.
# CPack packs the same tree as .deb and .tar.gz.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(HMD_PACKAGE ZORCustomHelmetDetection)
set(HMD_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${HMD_PACKAGE})

function(hmd_install_programs)
  foreach(program IN ITEMS ${ARGN})
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
endfunction()

if(NOT HMD_VENDOR_LIBRARY)
  install(TARGETS ZORCustomHelmetDetection EXPORT ${HMD_PACKAGE}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/include/IZORCustomClass.h ${PROJECT_SOURCE_DIR}/include/ZORCustomHMD.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT ${HMD_PACKAGE}Targets NAMESPACE ZOR:: DESTINATION ${HMD_CONFIG_DIR})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/${HMD_PACKAGE}Config.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/${HMD_PACKAGE}Config.cmake INSTALL_DESTINATION ${HMD_CONFIG_DIR})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${HMD_PACKAGE}ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${HMD_PACKAGE}Config.cmake
                ${CMAKE_CURRENT_BINARY_DIR}/${HMD_PACKAGE}ConfigVersion.cmake
    DESTINATION ${HMD_CONFIG_DIR})
endif()
hmd_install_programs(HelmetDetectionTest HelmetCertificationTest helmet-bench helmet-detect helmet-eval helmet-stage)

# The data the programs default to (src/tools-common/InstalledData.h): in
# share/ when installed, and linked at the same place beside the build tree's
# bin/, so that one rule finds it from either.
function(hmd_share_data source item install)
  set(link ${HMD_BUILD_SHARE_DIR}/${item})
  cmake_path(GET link PARENT_PATH folder)
  file(MAKE_DIRECTORY ${folder})
  file(CREATE_LINK ${source} ${link} RESULT failed SYMBOLIC)
  if(failed)
    message(WARNING "the build tree's programs will not find ${item}: ${failed}")
  endif()
  if(NOT install)
    return()
  endif()
  if(IS_DIRECTORY ${source})
    install(DIRECTORY ${source}/ DESTINATION ${HMD_SHARE_DIR}/${item})
  else()
    cmake_path(GET item PARENT_PATH item_folder)
    cmake_path(GET item FILENAME item_name)
    install(FILES ${source} DESTINATION ${HMD_SHARE_DIR}/${item_folder} RENAME ${item_name})
  endif()
endfunction()
set(ours ON)
if(HMD_VENDOR_LIBRARY)
  set(ours OFF)  # our model is no use to a vendor's library
endif()
hmd_share_data(${HMD_SHIPPED_MODEL_DIR} models/ZOR_Helmet ${ours})
# The labelled photos of the certification program (public domain, see their READMEs).
hmd_share_data(${PROJECT_SOURCE_DIR}/tests/assets/hard-hat-sample hard-hat-sample ON)
hmd_share_data(${PROJECT_SOURCE_DIR}/tests/assets/site-sample site-sample ON)
# The rendered test video (a Motion-JPEG AVI, which helmet-stage stages as it
# is) and its ground truth, where this build renders them.
hmd_share_data(${HMD_ASSETS_DIR}/HM2.mp4 video/HM2.avi ${HMD_STAGE_ASSETS})
hmd_share_data(${HMD_ASSETS_DIR}/HM2-labels.txt video/HM2-labels.txt ${HMD_STAGE_ASSETS})
# helmet-report runs the programs above: its launcher goes beside them, its
# modules into share/, where the launcher looks for them.
if(HMD_BUILD_TOOLS)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/helmet-report/helmet-report DESTINATION ${CMAKE_INSTALL_BINDIR})
  file(GLOB report_modules ${PROJECT_SOURCE_DIR}/tools/helmet-report/*.py)
  install(FILES ${report_modules} DESTINATION ${HMD_SHARE_DIR}/helmet-report)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${HMD_SHARE_DIR})
# The manuals the README links, with their images.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${HMD_SHARE_DIR})

set(CPACK_PACKAGE_NAME zor-helmet-detection)
set(CPACK_PACKAGE_VENDOR "ZOR")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ZORCustomHMD helmet detector library, its contract program and tools")
set(CPACK_PACKAGE_CONTACT "maintainers@users.noreply.c-seed-52a51e52.example")
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libopencv-core406, libopencv-imgproc406, libopencv-imgcodecs406, libopencv-videoio406, libopencv-dnn406")
if(HMD_WITH_ONEDNN)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libdnnl2 (>= 2.6), libgomp1")
endif()
if(HMD_BUILD_TOOLS)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", python3")  # helmet-report
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION science)
include(CPack)
