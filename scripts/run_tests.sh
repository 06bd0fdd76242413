#!/usr/bin/env bash
# Builds everything (warnings are errors) and runs every test. Configured as
# run_sample.sh configures, so after it only what the sample did not need is built.
# Usage: scripts/run_tests.sh [build-dir] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${1:-build}
shift || true
scripts/configure.sh "$build" "$@"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
