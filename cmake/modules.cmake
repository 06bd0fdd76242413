# zalk_module(<name> SOURCES <files...> [DEPS <targets...>])
# One static library per module, its sources listed by name (relative to the
# module's folder). Every module sees the source root as its include root.
function(zalk_module name)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${M_SOURCES})
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  target_link_libraries(${name} PUBLIC ${M_DEPS})
endfunction()
