# Runs a host and compares the file it wrote with the expected one, byte
# for byte; on a difference shows the first differing lines.
# cmake -DRUN=<command;args> -DOUTPUT=<file> -DEXPECTED=<file> -P compare_run.cmake
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${RUN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the host failed (${rc}):\n${err}\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${EXPECTED} RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  execute_process(COMMAND diff ${EXPECTED} ${OUTPUT} OUTPUT_VARIABLE diff)
  string(SUBSTRING "${diff}" 0 4000 diff)
  message(FATAL_ERROR "${OUTPUT} differs from ${EXPECTED}:\n${diff}")
endif()
