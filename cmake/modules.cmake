# zalk_module(<name> SOURCES <files...> [DEPS <targets...>])
# One static library per module, its sources listed by name (relative to the
# module's folder). Every module sees the source root as its include root,
# and the generated headers (zalk/version.h) beside it; once installed, the
# installed include folder.
function(zalk_module name)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${M_SOURCES})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<BUILD_INTERFACE:${ZALK_GENERATED_INCLUDE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${name} PUBLIC ${M_DEPS})
  # Installed and exported with the library (cmake/install.cmake).
  set_property(GLOBAL APPEND PROPERTY ZALK_MODULES ${name})
endfunction()
