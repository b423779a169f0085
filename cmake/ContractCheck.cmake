# Runs a contract program in WORKDIR and checks its report against a scenario
# of tests/contract/expectations.py. A missing WORKDIR skips the test (exit 77):
# sanitizer builds borrow the default build's staged assets.
function(hmd_add_contract_check name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PROGRAM;WORKDIR;SCENARIO" "LABELS")
  add_test(NAME ${name}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/contract/check_contract_run.py
            --program ${arg_PROGRAM} --workdir ${arg_WORKDIR} --scenario ${arg_SCENARIO})
  # GStreamer cannot open the staged video and warns before OpenCV's own reader does.
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "OPENCV_VIDEOIO_PRIORITY_GSTREAMER=0"
    SKIP_RETURN_CODE 77
    LABELS "${arg_LABELS}")
endfunction()
