# Runs the certification program with ARGS (a list) and expects a user error:
# exit status 2 and one line on standard error containing EXPECT.
execute_process(COMMAND ${PROGRAM} ${ARGS} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 600)
string(REGEX MATCHALL "\n" newlines "${err}")
list(LENGTH newlines count)
string(FIND "${err}" "${EXPECT}" found)
if(NOT status EQUAL 2 OR NOT count EQUAL 1 OR found EQUAL -1 OR NOT err MATCHES "^HelmetCertificationTest: ")
  message(FATAL_ERROR "expected exit status 2 and one line with '${EXPECT}'; got status ${status}:\n${err}")
endif()
