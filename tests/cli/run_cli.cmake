# Runs tavoflash-cli once and checks its exit code and standard output.
#   CLI          path of the program
#   ARGS         its arguments (a ;-list)
#   EXPECT_RC    the exit code it must end with
#   EXPECT_OUT   a text that standard output must contain (literal, may span lines)
execute_process(COMMAND ${CLI} ${ARGS}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                INPUT_FILE /dev/null TIMEOUT 120)
if(NOT rc STREQUAL EXPECT_RC)
  message(FATAL_ERROR "exit code ${rc}, expected ${EXPECT_RC}\nstdout:\n${out}\nstderr:\n${err}")
endif()
if(DEFINED EXPECT_OUT)
  string(REPLACE "\\n" "\n" wanted "${EXPECT_OUT}")
  string(FIND "${out}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "stdout lacks:\n${wanted}\nstdout:\n${out}\nstderr:\n${err}")
  endif()
endif()
