# Writes OUT, a C++ source holding the report page: TEMPLATE with STYLE and
# SCRIPT put in place of its markers, as an array of bytes (no escaping of
# the text to get wrong). Run with cmake -P at build time.
cmake_minimum_required(VERSION 3.25)
foreach(part TEMPLATE STYLE SCRIPT)
  file(READ ${${part}} ${part}_TEXT)
endforeach()
string(FIND "${SCRIPT_TEXT}" "</script" script_end)
string(FIND "${STYLE_TEXT}" "</style" style_end)
if(NOT script_end EQUAL -1 OR NOT style_end EQUAL -1)
  message(FATAL_ERROR "the report's script or style would end its own element early")
endif()
string(REPLACE "/*@STYLE@*/" "${STYLE_TEXT}" page "${TEMPLATE_TEXT}")
string(REPLACE "/*@SCRIPT@*/" "${SCRIPT_TEXT}" page "${page}")
string(FIND "${page}" "@DATA@" first)
string(FIND "${page}" "@DATA@" last REVERSE)
if(first EQUAL -1 OR NOT first EQUAL last)
  message(FATAL_ERROR "the report page must hold the data marker exactly once")
endif()
file(WRITE ${OUT}.html "${page}")
file(READ ${OUT}.html hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT}.tmp "// Written by the build from apps/rate/report/; do not edit.\n#include \"apps/rate/report_template.h\"\n\n"
     "namespace report_output {\nconst char kReportPage[] = {\n${bytes}0};\n"
     "const std::size_t kReportPageSize = ${size};\n}  // namespace report_output\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
