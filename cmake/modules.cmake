# zalk_layer(<name> SOURCES <files...> [DEPS <targets...>])
# One layer of the library: its sources compiled once as the object library
# <name>_objects, and the static library <name> over those objects that the
# layers above, the tests and the tools link. Every layer sees src/ as its
# include root, then include/ (the public headers) and the generated headers
# (zalk/version.h). The installed libraries are made from the layers' objects
# (src/api: zalk; src/legacy: zalk3071).
function(zalk_layer name)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name}_objects OBJECT ${M_SOURCES})
  target_include_directories(${name}_objects PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${ZALK_GENERATED_INCLUDE_DIR}>)
  target_link_libraries(${name}_objects PUBLIC ${M_DEPS})
  add_library(${name} STATIC $<TARGET_OBJECTS:${name}_objects>)
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${ZALK_GENERATED_INCLUDE_DIR}>)
  target_link_libraries(${name} PUBLIC ${M_DEPS})
  set_property(GLOBAL APPEND PROPERTY ZALK_LAYERS ${name})
endfunction()
