# Runs `TOOL --generate WHAT` and writes its output to OUTPUT; used at build
# time for the manual page and the bash completion.
execute_process(COMMAND ${TOOL} --generate ${WHAT}
  OUTPUT_FILE ${OUTPUT}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "${TOOL} --generate ${WHAT} failed: ${status}")
endif()
