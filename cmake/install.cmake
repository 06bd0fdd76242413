# Installation: the public headers, the legacy C header, the libraries in one
# export set, the deflection table, a CMake package (find_package(zalk3071))
# and a pkg-config file (zalk3071.pc). Included after every library target
# exists.
include(CMakePackageConfigHelpers)

set(ZALK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/zalk3071)
set(ZALK_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/zalk3071)
set(ZALK_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Two libraries, exported as zalk3071::<target>: the C++ library zalk (one
# archive of every layer up to the public API) and the legacy shared library
# zalk3071.
set(zalk_exported)
foreach(t zalk zalk3071)
  if(TARGET ${t})
    list(APPEND zalk_exported ${t})
  endif()
endforeach()
# Each sees the installed include folder; the C++ API's headers need C++17
# of whoever includes them.
install(TARGETS ${zalk_exported} EXPORT zalk3071Targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET zalk)
  target_compile_features(zalk INTERFACE cxx_std_17)
endif()

# Headers: the C++ API under zalk/; the legacy C header and the block layouts
# it includes under zalk3071/.
if(EXISTS ${PROJECT_SOURCE_DIR}/include/zalk)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zalk DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
          FILES_MATCHING PATTERN "*.hpp")
endif()
install(FILES ${ZALK_GENERATED_INCLUDE_DIR}/zalk/version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zalk)
install(FILES ${PROJECT_SOURCE_DIR}/include/zalk3071/zalk3071.h ${PROJECT_SOURCE_DIR}/include/zalk3071/block_layout.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zalk3071)

# The deflection table every rating reads from the data folder.
install(FILES ${PROJECT_SOURCE_DIR}/data/backdefl.txt DESTINATION ${ZALK_INSTALL_DATADIR})

# CMake package.
install(EXPORT zalk3071Targets NAMESPACE zalk3071:: DESTINATION ${ZALK_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zalk3071Config.cmake.in
                              ${PROJECT_BINARY_DIR}/zalk3071Config.cmake
                              INSTALL_DESTINATION ${ZALK_INSTALL_CMAKEDIR}
                              PATH_VARS ZALK_INSTALL_DATADIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zalk3071ConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zalk3071Config.cmake ${PROJECT_BINARY_DIR}/zalk3071ConfigVersion.cmake
        DESTINATION ${ZALK_INSTALL_CMAKEDIR})

# pkg-config. A static library needs everything beneath it on the link line,
# each library before the ones it uses; the order comes from the targets'
# link dependencies, so a new module needs no change here.
function(zalk_visit_links target)
  get_property(seen GLOBAL PROPERTY ZALK_LINK_SEEN)
  if(target IN_LIST seen)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY ZALK_LINK_SEEN ${target})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(deps ${target} INTERFACE_LINK_LIBRARIES)
  else()
    get_target_property(deps ${target} LINK_LIBRARIES)
  endif()
  foreach(d IN LISTS deps)
    if(TARGET ${d})
      zalk_visit_links(${d})
    elseif(d MATCHES "^-")
      set_property(GLOBAL APPEND PROPERTY ZALK_LINK_SYSTEM ${d})
    elseif(d AND NOT d MATCHES "NOTFOUND$|^\\$<")
      set_property(GLOBAL APPEND PROPERTY ZALK_LINK_SYSTEM -l${d})
    endif()
  endforeach()
  if(type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "SHARED_LIBRARY")
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
      set(name ${target})
    endif()
    set_property(GLOBAL APPEND PROPERTY ZALK_LINK_ORDER -l${name})
  endif()
endfunction()

# zalk_link_flags(<out> <target>): -l flags for <target> and all it links.
function(zalk_link_flags out target)
  set_property(GLOBAL PROPERTY ZALK_LINK_SEEN)
  set_property(GLOBAL PROPERTY ZALK_LINK_ORDER)
  set_property(GLOBAL PROPERTY ZALK_LINK_SYSTEM)
  zalk_visit_links(${target})
  get_property(order GLOBAL PROPERTY ZALK_LINK_ORDER)
  get_property(system GLOBAL PROPERTY ZALK_LINK_SYSTEM)
  list(REVERSE order)  # reverse post-order: every library before its dependencies
  list(REMOVE_DUPLICATES system)
  list(JOIN order " " order)
  list(JOIN system " " system)
  set(${out} "${order} ${system}" PARENT_SCOPE)
endfunction()

if(TARGET zalk)
  zalk_link_flags(ZALK_PC_LIBS zalk)
  file(RELATIVE_PATH ZALK_PC_PREFIX /${ZALK_INSTALL_PKGCONFIGDIR} /)
  string(REGEX REPLACE "/$" "" ZALK_PC_PREFIX "${ZALK_PC_PREFIX}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/zalk3071.pc.in ${PROJECT_BINARY_DIR}/zalk3071.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/zalk3071.pc DESTINATION ${ZALK_INSTALL_PKGCONFIGDIR})
endif()
