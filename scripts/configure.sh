#!/usr/bin/env bash
# Configures a build directory the one way both run_sample.sh and run_tests.sh
# use, so that the second command reuses what the first one compiled instead
# of reconfiguring and rebuilding everything.
# Usage: scripts/configure.sh build-dir [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
shift
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZALK_WERROR=ON "$@" >/dev/null
