# Runs a program that must end with a given exit status and print a text
# matching a regular expression on its standard output.
# cmake -DCOMMAND=<prog;args> -DSTATUS=<n> -DPATTERN=<regex> -P expect_stop.cmake
execute_process(COMMAND ${COMMAND} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL STATUS)
  message(FATAL_ERROR "exit status ${rc}, expected ${STATUS}\nstdout:\n${out}\nstderr:\n${err}")
endif()
# A long message is wrapped, each continuation line starting with " ***" and
# spaces, and a file name may be cut anywhere: match with the breaks taken out.
string(REGEX REPLACE "\r?\n \\*\\*\\* +" "" joined "${out}")
if(NOT joined MATCHES "${PATTERN}")
  message(FATAL_ERROR "output does not match '${PATTERN}':\n${out}")
endif()
