# Runs the certification program with each help form in FORMS (a list): exit
# status 0, the program's usage shown, and no test run.
foreach(form IN LISTS FORMS)
  execute_process(COMMAND ${PROGRAM} ${form} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                  TIMEOUT 60)
  string(FIND "${out}" "--video-labels FILE" usage)
  string(FIND "${out}" "[ RUN      ]" ran)
  if(NOT status EQUAL 0 OR usage EQUAL -1 OR NOT ran EQUAL -1)
    message(FATAL_ERROR "${form}: expected the usage and exit status 0, no test run; got status ${status}:\n${out}${err}")
  endif()
endforeach()
