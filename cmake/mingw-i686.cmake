# Cross build of the 32-bit Windows library with MinGW-w64.
# SSE2 arithmetic instead of the x87 default: x87 keeps excess precision in
# registers, and the results must match the 64-bit builds bit for bit.
# The stack is kept 8-byte aligned, enough for a double: the default assumes
# only 4 bytes on entry, so every function with a double on the stack
# realigns it on entry. The entry points realign on entry (ZALK_ENTRY), and
# a caller that keeps less than 8 bytes elsewhere only makes such doubles
# slower, since nothing 8-byte requires alignment; what needs 16 bytes still
# realigns.
# Tuned for the processors of the last decade (Haswell and later) rather
# than the generic mix: among other things the code then moves 8-byte
# integer pairs through SSE registers, and the engine runs 2 to 4 % faster.
# Tuning chooses among equivalent instructions (the code still runs on any
# processor with SSE2) and never changes the arithmetic, so the results stay
# the same bit for bit.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZALK_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZALK_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZALK_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${ZALK_MINGW_TRIPLET}-windres)
set(ZALK_I686_FLAGS "-msse2 -mfpmath=sse -mtune=haswell -mincoming-stack-boundary=3 -mpreferred-stack-boundary=3")
set(CMAKE_C_FLAGS_INIT "${ZALK_I686_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${ZALK_I686_FLAGS}")
set(CMAKE_FIND_ROOT_PATH /usr/${ZALK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
