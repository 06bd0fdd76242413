#!/usr/bin/env bash
# Builds the Windows library ZALK3071dll.dll with MinGW-w64, 32-bit into
# build-win32/ and 64-bit into build-win64/, each with the C host zalk_host.exe.
# Usage: scripts/build_windows.sh [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
for arch in i686:win32 x86_64:win64; do
  triplet=${arch%%:*}
  dir=build-${arch##*:}
  if ! command -v "$triplet-w64-mingw32-g++" >/dev/null; then
    echo "build_windows: $triplet-w64-mingw32-g++ not found; install g++-mingw-w64-${triplet/_/-}" >&2
    exit 1
  fi
  cmake --no-warn-unused-cli -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$triplet.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DZALK_WERROR=ON -DZALK_TESTS=OFF -DZALK_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  echo "built $dir/ZALK3071dll.dll"
done
