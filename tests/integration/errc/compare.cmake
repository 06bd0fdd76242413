# Writes the header the tables give now and compares it with the one in the tree.
execute_process(COMMAND ${PYTHON} ${SOURCE}/tools/make_errc.py ${SOURCE} ${OUT} RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "tools/make_errc.py failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${SOURCE}/include/zalk/errc.hpp RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "include/zalk/errc.hpp is not what the message tables give: run tools/make_errc.py")
endif()
