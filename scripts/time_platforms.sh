#!/usr/bin/env bash
# Times the engine benchmark (mode 1 of structure S1: the core, and QUORVAN
# with its deck file) on the Linux build and on both Windows builds under
# Wine, side by side: ROUNDS interleaved runs of each build, ANALYSES
# analyses a run. Prints, per build, the best and the middle of its per-run
# medians, and the ratio of the best to the Linux build's.
# Usage: scripts/time_platforms.sh [ROUNDS=5] [ANALYSES=600] [BUILD_DIR=build]
# BUILD_DIR is a build of scripts/run_tests.sh, which makes the Windows builds
# (BUILD_DIR/tests/abi/windows/win32, win64) and their Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
analyses=${2:-600}
build=${3:-build}
cmake --build "$build" -j"$(nproc)" --target engine_timing zalk_win32 zalk_win64 >/dev/null
export WINEPREFIX="$PWD/$build/tests/abi/windows/wineprefix" WINEDEBUG=-all
declare -A run=(
  [linux]="$build/bench/timing/engine_timing"
  [win32]="wine $build/tests/abi/windows/win32/engine_timing.exe"
  [win64]="wine $build/tests/abi/windows/win64/engine_timing.exe"
)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for ((r = 1; r <= rounds; ++r)); do
  for b in linux win32 win64; do
    ${run[$b]} "$analyses" | sed "s/^/$b: /" >>"$out"
  done
done
python3 - "$out" <<'PY'
import collections, re, sys
medians = collections.defaultdict(list)
for line in open(sys.argv[1]):
    m = re.match(r"(\w+): (.*): median ([\d.]+) us", line)
    if m:
        medians[(m.group(2), m.group(1))].append(float(m.group(3)))
for what in dict.fromkeys(w for w, _ in medians):
    print(what)
    linux = min(medians[(what, "linux")])
    for build in ("linux", "win32", "win64"):
        m = sorted(medians[(what, build)])
        print(f"  {build:6s} median best {m[0]:7.1f} us, middle {m[len(m) // 2]:7.1f} us"
              f"  ({m[0] / linux:.3f} x Linux, {len(m)} runs)")
PY
