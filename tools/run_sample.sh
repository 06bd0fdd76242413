#!/usr/bin/env bash
# Builds the library and runs the main job on the bundled sample data.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
build=${1:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
"$build"/tools/toolkit_demo
