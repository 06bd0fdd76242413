# Cross build of the 32-bit Windows library with MinGW-w64.
# SSE2 arithmetic instead of the x87 default: x87 keeps excess precision in
# registers, and the results must match the 64-bit builds bit for bit.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZALK_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZALK_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZALK_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${ZALK_MINGW_TRIPLET}-windres)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_FIND_ROOT_PATH /usr/${ZALK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
