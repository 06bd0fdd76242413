#!/usr/bin/env bash
# Builds the library and the rating tool (nothing else: no tests, no Windows
# library) and rates the bundled sample data with the tool: the load rating of
# every test, then an overlay iteration per section.
# Usage: scripts/run_sample.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${1:-build}
scripts/configure.sh "$build"
cmake --build "$build" -j"$(nproc)" --target rate

# The library reads its deflection table from its data folder.
data="$build/sample-data"
out="$build/sample-results"
mkdir -p "$data" "$out"
cp data/backdefl.txt "$data/backdefl.txt"

"$build"/apps/rate/rate --data "$data" \
  --sections data/sample/sections.csv --tests data/sample/tests.csv --out "$out/results.csv" \
  --overlay data/sample/overlay.csv --dh 1.0 --overlay-out "$out/overlay.csv"

# The F25 field file of section S2: the last drop of each location, fitted.
"$build"/apps/rate/rate --data "$data" --sections data/sample/sections.csv --f25 data/sample/S2.f25 \
  --reps 60000 --drops last --method fit --out "$out/f25_fit.csv" --residuals "$out/f25_residuals.csv"

# The sample's tests with basin indices and AASHTO 93 columns, cut into
# homogeneous sections on the centre deflection.
"$build"/apps/rate/rate --data "$data" \
  --sections data/sample/sections.csv --tests data/sample/tests.csv --out "$out/survey.csv" \
  --indices --reference-load 9000 --segments d0_mils --min-length 20 --segments-out "$out/sections.csv"

echo "Results per test: $out/results.csv"
head -n 6 "$out/results.csv"
echo "Overlay passes:   $out/overlay.csv"
head -n 6 "$out/overlay.csv"
echo "F25 file, fit:    $out/f25_fit.csv"
head -n 4 "$out/f25_fit.csv"
echo "Survey sections:  $out/sections.csv"
cut -d, -f1-8 "$out/sections.csv"
