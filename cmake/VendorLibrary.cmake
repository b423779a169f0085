# The vendor's library stands in for ours under the same target name, so that
# the contract program and the tools link it without knowing whose it is.
function(hmd_import_vendor_library library include_dir)
  if(NOT include_dir)
    message(FATAL_ERROR "HMD_VENDOR_LIBRARY needs HMD_VENDOR_INCLUDE_DIR")
  endif()
  foreach(header IZORCustomClass.h ZORCustomHMD.h)
    if(NOT EXISTS ${include_dir}/${header})
      message(FATAL_ERROR "HMD_VENDOR_INCLUDE_DIR has no ${header}: ${include_dir}")
    endif()
  endforeach()
  add_library(ZORCustomHelmetDetection SHARED IMPORTED GLOBAL)
  set_target_properties(ZORCustomHelmetDetection PROPERTIES
    IMPORTED_LOCATION "${library}"
    IMPORTED_IMPLIB "${library}"
    INTERFACE_INCLUDE_DIRECTORIES "${include_dir}")
  target_link_libraries(ZORCustomHelmetDetection INTERFACE ${OpenCV_LIBS})
endfunction()
