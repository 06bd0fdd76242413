#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder and runs
# each for SECONDS on a copy of its seed corpus (fuzz/corpus/<target>).
# Usage: scripts/run_fuzz.sh SECONDS [BUILD_DIR]
# A crash, leak or sanitizer report fails the run; its input is left in the
# build folder (crash-*, leak-*, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: scripts/run_fuzz.sh SECONDS [BUILD_DIR]}
build=${2:-build-fuzz}
targets=(fortio_fuzz deck_fuzz defltable_fuzz rate_csv_fuzz f25_fuzz)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DZALK_FUZZ=ON -DZALK_TESTS=OFF -DZALK_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"${t%_fuzz}"/* "$corpus"/ 2>/dev/null || true
  echo "== $t: $seconds s"
  (cd "$build" && "./fuzz/$t" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 "corpus/$t" 2>"$t.log") || {
    tail -n 60 "$build/$t.log"
    echo "$t: failure, input saved in $build"
    exit 1
  }
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/$t.log" || true
done
