# The installed package as a consumer sees it; run by ctest in steps
# (tests/CMakeLists.txt), cmake -P with -D settings:
#   STEP=install    install the build tree BUILD_DIR into PREFIX
#   STEP=example    configure examples/ against PREFIX (find_package), build
#                   it and run it on the rating test data
#   STEP=pkgconfig  compile support/pkgconfig_probe.cpp with the flags of
#                   pkg-config alone and run it
#   STEP=legacy     compile support/legacy_probe.c against the installed C
#                   header, link it with the installed shared library, run it
#   STEP=clean      remove PREFIX, unless a check left its work folder behind
#                   (it failed: PREFIX is kept to look at)
# Other settings: SOURCE_DIR, WORK (folder of the checks), LIBDIR (relative
# library folder), PKG_CONFIG, CC, CXX, LAUNCHER, BUILD_TYPE, CXX_FLAGS and LINK_FLAGS (each
# one string, flags separated by spaces).
cmake_minimum_required(VERSION 3.25)
set(PREFIX ${WORK}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}\nfailed (${status}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

# Every line of <output> matching one of the expected patterns, in order.
function(expect_lines output)
  foreach(pattern IN LISTS ARGN)
    if(NOT output MATCHES "${pattern}")
      message(FATAL_ERROR "expected a line matching\n  ${pattern}\nin\n${output}")
    endif()
  endforeach()
endfunction()

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${PREFIX})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
  foreach(f include/zalk/zalk.hpp include/zalk/version.h include/zalk3071/zalk3071.h
            include/zalk3071/block_layout.h ${LIBDIR}/libzalk3071.so ${LIBDIR}/libzalk.a
            ${LIBDIR}/cmake/zalk3071/zalk3071Config.cmake ${LIBDIR}/pkgconfig/zalk3071.pc
            share/zalk3071/backdefl.txt)
    if(NOT EXISTS ${PREFIX}/${f})
      message(FATAL_ERROR "not installed: ${f}")
    endif()
  endforeach()

elseif(STEP STREQUAL "example")
  set(dir ${WORK}/example)
  file(REMOVE_RECURSE ${dir})
  set(options -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
              "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
  if(LAUNCHER)
    list(APPEND options -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
  endif()
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${dir} ${options})
  # The package found must be the installed one, not the build tree.
  file(STRINGS ${dir}/CMakeCache.txt found REGEX "^zalk3071_DIR:")
  if(NOT found MATCHES "=${PREFIX}/")
    message(FATAL_ERROR "the example found the package elsewhere: ${found}")
  endif()
  run(${CMAKE_COMMAND} --build ${dir})
  run(${dir}/analyse_and_rate ${SOURCE_DIR}/tests/data/rating)
  message("${run_output}")
  # Surface deflections of structure S1 of tests/data/layered_mode1.csv,
  # to four digits (the engine agrees with those figures to 1e-4 of the
  # basin), and every test of the two sections rated.
  expect_lines("${run_output}"
               "w\\(r =  0 in\\) = 1\\.552[0-9]e-02 in"
               "w\\(r = 12 in\\) = 6\\.34[56][0-9]e-03 in"
               "w\\(r = 24 in\\) = 8\\.24[0-2][0-9]e-04 in"
               "w\\(r = 36 in\\) = -4\\.72[89][0-9]e-04 in"
               "S1: 2 of 2 tests rated, mean allowable load [0-9.]+, mean subgrade modulus [0-9]+ psi"
               "S4: 2 of 2 tests rated, mean allowable load [0-9.]+, mean subgrade modulus [0-9]+ psi")
  file(REMOVE_RECURSE ${dir})

elseif(STEP STREQUAL "pkgconfig")
  set(dir ${WORK}/pkgconfig)
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
  run(${PKG_CONFIG} --modversion zalk3071)
  string(STRIP "${run_output}" version)
  run(${PKG_CONFIG} --cflags --libs zalk3071)
  separate_arguments(flags UNIX_COMMAND "${run_output}")
  separate_arguments(compile UNIX_COMMAND "${CXX_FLAGS}")
  separate_arguments(link UNIX_COMMAND "${LINK_FLAGS}")
  run(${LAUNCHER} ${CXX} -std=c++17 ${compile} ${SOURCE_DIR}/tests/support/pkgconfig_probe.cpp
      -o ${dir}/probe ${flags} ${link})
  run(${dir}/probe)
  message("${run_output}")
  expect_lines("${run_output}" "^zalk3071 ${version}\n" "half-space w agrees with the closed form")
  file(REMOVE_RECURSE ${dir})

elseif(STEP STREQUAL "legacy")
  set(dir ${WORK}/legacy)
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  separate_arguments(compile UNIX_COMMAND "${CXX_FLAGS}")
  separate_arguments(link UNIX_COMMAND "${LINK_FLAGS}")
  run(${LAUNCHER} ${CC} -std=c11 ${compile} -I${PREFIX}/include ${SOURCE_DIR}/tests/support/legacy_probe.c
      -o ${dir}/probe -L${PREFIX}/${LIBDIR} -lzalk3071 -Wl,-rpath,${PREFIX}/${LIBDIR} ${link})
  run(${dir}/probe)
  message("${run_output}")
  expect_lines("${run_output}" "^VERSIONNUM 2\\.0\n")
  file(REMOVE_RECURSE ${dir})

elseif(STEP STREQUAL "clean")
  if(NOT EXISTS ${WORK}/example AND NOT EXISTS ${WORK}/pkgconfig AND NOT EXISTS ${WORK}/legacy)
    file(REMOVE_RECURSE ${WORK})
  endif()

else()
  message(FATAL_ERROR "unknown STEP '${STEP}'")
endif()
