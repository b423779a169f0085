# The SDK layout: include/, lib/ with the library and its CMake package,
# bin/ with the contract and certification programs and the tools, share/
# with the shipped model and the certification program's photo sample.
# CPack packs the same tree as .deb and .tar.gz.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(HMD_PACKAGE ZORCustomHelmetDetection)
set(HMD_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${HMD_PACKAGE})
set(HMD_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/${HMD_PACKAGE})

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
  install(FILES ${HMD_SHIPPED_MODEL_DIR}/model.yml ${HMD_SHIPPED_MODEL_DIR}/helmet.onnx
    DESTINATION ${HMD_SHARE_DIR}/models/ZOR_Helmet)
endif()
hmd_install_programs(HelmetDetectionTest HelmetCertificationTest helmet-bench helmet-detect helmet-eval)
# The certification program's labelled photos (public domain, see their README);
# pass --photos with this folder to the installed program.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/tests/assets/hard-hat-sample DESTINATION ${HMD_SHARE_DIR})
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
