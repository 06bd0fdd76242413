#!/usr/bin/env bash
# The rating tool on field files as devices write them (tests/data/fwd, made
# by tools/make_fwd_samples.py): every drop rated with its station, lane,
# drop, load and position; text fields quoted and in UTF-8; --f25 the same as
# --fwd; --sensor-offsets; and the exit status 4 whenever a drop or a file
# was skipped, each named on standard error with file, line and column.
# Usage: fwd_tool_test.sh RATE_TOOL SOURCE_DIR WORK_DIR
set -euo pipefail
rate=$1 src=$2 work=$3
fwd="$src/tests/data/fwd"
rm -rf "$work"
mkdir -p "$work/folder"
cp "$src/data/backdefl.txt" "$work/folder/backdefl.txt"

# run NAME EXPECTED_STATUS ARGS...: the tool's status must be the one expected.
run() {
  local name=$1 want=$2
  shift 2
  local got=0
  "$rate" --data "$work/folder" --sections "$src/data/sample/sections.csv" --fwd-section S2 --reps 60000 \
    --threads 2 "$@" --out "$work/$name.csv" 2>"$work/$name.err" || got=$?
  if [ "$got" -ne "$want" ]; then
    echo "$name: exit status $got, expected $want"
    cat "$work/$name.err"
    exit 1
  fi
}

# Each sample file, either method: one row per drop, its columns as in the file.
for method in design fit; do
  for f in device_a.f25 device_b.f25 survey.dat; do
    run "$method.$f" 0 --fwd "$fwd/$f" --method "$method"
  done
done
python3 - "$work" "$fwd/expected.csv" <<'PY'
import csv, math, sys
work, expected = sys.argv[1], list(csv.DictReader(open(sys.argv[2])))
for method in ("design", "fit"):
    for name in ("device_a.f25", "device_b.f25", "survey.dat"):
        rows = list(csv.DictReader(open(f"{work}/{method}.{name}.csv", encoding="utf-8")))
        want = [e for e in expected if e["file"] == name]
        assert len(rows) == len(want), (method, name, len(rows), len(want))
        for r, e in zip(rows, want):
            assert r["line"] == e["line"] and float(r["station"]) == float(e["station"]), (r, e)
            assert r["lane"] == e["lane"] and r["drop"] == e["drop"], (r, e)
            if name.endswith(".dat"):
                load = float(e["load"]) * 1000
            else:
                load = float(e["load"]) * math.pi * 0.15 ** 2 * 1000 / 4.4482216152605
            assert abs(float(r["load_lb"]) / load - 1) < 1e-5, (r, e)
            assert abs(float(r["latitude"]) - float(e["latitude"])) < 1e-7, (r, e)
            assert abs(float(r["longitude"]) - float(e["longitude"])) < 1e-7, (r, e)
            assert ("implausible" in r["flags"]) == (e["flagged"] == "1"), (r, e)
            assert math.isfinite(float(r["allowable_load"])), r
            # Nine sensors off the table's six: the design method interpolates.
            interpolated = method == "design" and name.endswith(".f25")
            assert ("interpolated" in r["flags"]) == interpolated, (method, r)
PY
echo "field files of both F25 shapes and JILS rated drop by drop"

# --f25 and --f25-section are synonyms of --fwd and --fwd-section.
"$rate" --data "$work/folder" --sections "$src/data/sample/sections.csv" --f25-section S2 --reps 60000 \
  --f25 "$fwd/device_b.f25" --method design --out "$work/synonym.csv" 2>/dev/null
cmp "$work/synonym.csv" "$work/design.device_b.f25.csv" || { echo "--f25 differs from --fwd"; exit 1; }

# A lane holding a comma and Latin-1 text: one quoted UTF-8 field.
python3 - "$fwd/device_a.f25" "$work/lane.f25" <<'PY'
import sys
text = open(sys.argv[1], "rb").read()
text = text.replace(b',1,1,"M       ",2013', b',1,"L1, n\xf6rth","M       ",2013')
open(sys.argv[2], "wb").write(text)
PY
run lane 0 --fwd "$work/lane.f25" --method fit
python3 - "$work/lane.csv" <<'PY'
import csv, sys
rows = list(csv.reader(open(sys.argv[1], encoding="utf-8")))
assert all(len(r) == len(rows[0]) for r in rows), "a field spilled into another column"
lane = rows[0].index("lane")
assert all(r[lane] == "L1, n\u00f6rth" for r in rows[1:]), rows[1]
PY
echo "text fields quoted and written in UTF-8"

# Skipped drops and files: the rest is rated, each skip named, exit status 4.
python3 - "$fwd/device_a.f25" "$work/damaged.f25" <<'PY'
import sys
lines = open(sys.argv[1], "rb").read().split(b"\r\n")
lines[45] = b"   2,   720, 107.9,  85.4"                      # line 46: two deflections of nine
lines[46] = lines[46].replace(b"   694,", b"     0,", 1)     # line 47: no stress
assert b"     0," in lines[46]
open(sys.argv[2], "wb").write(b"\r\n".join(lines))
PY
printf 'section,hour\nS2,9\n' >"$work/other.csv"
run damaged 4 --fwd "$work/damaged.f25" --fwd "$work/other.csv" --method fit
grep -q "damaged.f25:46:1: section \"S2\": the drop has 2 deflections" "$work/damaged.err"
grep -q "damaged.f25:47:6: section \"S2\": the peak stress" "$work/damaged.err"
grep -q "other.csv:1:1: section \"S2\": neither an F25 file" "$work/damaged.err"
[ "$(($(wc -l <"$work/damaged.csv") - 1))" -eq 22 ] || { echo "expected 22 rated drops"; exit 1; }
echo "skipped drops and files named, the rest rated, exit status 4"

# --sensor-offsets for JILS: in mm the basins lie off the table's sensors;
# one that stops short of 36 in is refused by the design method drop by
# drop (exit 4) and fitted where it is.
run jils_mm 0 --fwd "$fwd/survey.dat" --sensor-offsets "0,200,300,450,600,900,1200,1500,1800mm" --method design
grep -q ",interpolated" "$work/jils_mm.csv"
run short_design 4 --fwd "$fwd/survey.dat" --sensor-offsets "0, 4, 8, 12, 16, 20, 24, 28, 32in" --method design
grep -q "survey.dat:9:1: .*not rated" "$work/short_design.err"
run short_fit 0 --fwd "$fwd/survey.dat" --sensor-offsets "0, 4, 8, 12, 16, 20, 24, 28, 32in" --method fit
for bad in "0,8,12" "0,12,8in" "0,8,x,12in"; do
  run bad_offsets 2 --fwd "$fwd/survey.dat" --sensor-offsets "$bad"
  grep -q -- "--sensor-offsets" "$work/bad_offsets.err"
done
echo "sensor offsets given, interpolated, refused or fitted"

# A sensor behind the plate is read, noted and left out of the rating; asked
# to, the fit takes it at its distance: the outermost sensor moved behind the
# plate then rates as where it was, and one at the distance of a sensor ahead
# (-305 against 300 mm) stays out.
sed 's/  1800,N0    ,N0/  -305,N0    ,N0/' "$fwd/device_a.f25" >"$work/behind.f25"
sed 's/  1800,N0    ,N0/ -1800,N0    ,N0/' "$fwd/device_a.f25" >"$work/mirror.f25"
run behind 0 --fwd "$work/behind.f25" --method fit
grep -q "behind.f25:6:.*each reading is kept with its own sensor" "$work/behind.err"
grep -q "8 sensors fitted where they are; sensors behind the plate left out" "$work/behind.err"
run behind_mirrored 0 --fwd "$work/behind.f25" --method fit --behind-plate mirrored
run mirror 0 --fwd "$work/mirror.f25" --method fit --behind-plate mirrored
grep -q "9 sensors fitted where they are; sensors behind the plate taken at their distance" "$work/mirror.err"
run mirror_design 2 --fwd "$work/mirror.f25" --method design --behind-plate mirrored
python3 - "$work" <<'PY'
import csv, sys
work = sys.argv[1]
def rated(name):
    return [(r["allowable_load"], r["e_surface"], r["e_base"], r["e_subgrade"], r["depth_in"])
            for r in csv.DictReader(open(f"{work}/{name}.csv", encoding="utf-8"))]
assert rated("mirror") == rated("fit.device_a.f25")
assert rated("behind_mirrored") == rated("behind")
assert rated("behind") != rated("fit.device_a.f25")
PY
echo "a sensor behind the plate left out, or mirrored when asked"
rm -rf "$work"
