"""The rating tool's survey columns end to end: a synthetic F25 survey of
three known units (centre deflections about 12, 24 and 16 mils, 5 % noise)
and a short fourth stretch below the minimum length, one location out of
order, rated with --indices and cut into sections on d0_mils; the sample's
CSV tests with the normalised columns; and the bad options.

Usage: survey_tool_test.py RATE SOURCE_DIR WORK_DIR
"""
import csv
import os
import random
import subprocess
import sys

RATE, SOURCE, WORK = sys.argv[1:4]
SAMPLE = os.path.join(SOURCE, "data", "sample")
OFFSETS_MM = [0, 200, 300, 450, 600, 900, 1500]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def basin_um(d0_mils, spread_in):
    return [d0_mils * 25.4 * spread_in / ((x / 25.4) ** 2 + spread_in ** 2) ** 0.5 for x in OFFSETS_MM]


def write_survey(path):
    """Locations 25 m apart: 40 of unit A, 30 of B, 30 of C, 3 of D, then one at 100 m."""
    header = open(os.path.join(SAMPLE, "S2.f25")).read().splitlines()[:40]
    # the sample's sensors moved to 0, 200, 300, 450, 600, 900 and 1500 mm
    header = [",".join(["5020", "  150"] + [f"{o:>5}" for o in OFFSETS_MM] + line.split(",")[9:])
              if line.startswith("5020,") else line for line in header]
    rng = random.Random(28)
    units = [(40, 12.0), (30, 24.0), (30, 16.0), (3, 40.0)]
    stations = []
    for n, d0 in units:
        for _ in range(n):
            stations.append((len(stations) * 25.0, d0))
    stations.append((100.0, 12.0))
    out = list(header)
    lines = {}
    for k, (station, d0) in enumerate(stations):
        out.append(f"5280,    0,  {345600.0 + 60 * k:9.1f}, 44.{971000 + 37 * k:06d}, -93.{264000 + 41 * k:06d},  256.0")
        out.append(f'5301,    0,"m",{station:10.1f},"L1",2026,10,14,10, 0')
        out += ['5302,"dry"', "5303,    0,   N0,  24.0,   N0"]
        d = basin_um(d0 * (1 + 0.05 * rng.uniform(-1, 1)), 14.0)
        stress = 9000 * 4.4482216152605 / 1000.0 / (3.141592653589793 * 0.15 ** 2)
        out.append(f"   1,{stress:7.1f}," + ",".join(f"{v:6.1f}" for v in d))
        lines[k] = len(out)
    open(path, "w").write("\n".join(out) + "\n")
    return lines


def run(*args):
    return subprocess.run([RATE, "--data", os.path.join(SOURCE, "data"), *args], capture_output=True, text=True)


def rows(path):
    return list(csv.DictReader(open(path)))


os.makedirs(WORK, exist_ok=True)
f25 = os.path.join(WORK, "survey.f25")
lines = write_survey(f25)
common = ["--sections", os.path.join(SAMPLE, "sections.csv"), "--f25", f25, "--f25-section", "S2",
          "--reps", "60000", "--drops", "all"]

# The survey: three units found, the short stretch merged, the late station named.
res = run(*common, "--out", os.path.join(WORK, "f25.csv"), "--indices", "--segments", "d0_mils",
          "--min-length", "200", "--segments-out", os.path.join(WORK, "sections.csv"))
check(res.returncode == 0, f"F25 survey: exit {res.returncode}: {res.stderr}")
check(f"survey.f25:{lines[103]}: station 100 is lower than the station before it (2550)" in res.stderr,
      f"the late station is not named: {res.stderr}")
if res.returncode == 0:
    units = rows(os.path.join(WORK, "sections.csv"))
    spans = [(float(u["station_from"]), float(u["station_to"])) for u in units]
    check(spans == [(0, 975), (1000, 1725), (1750, 2550)], f"sections {spans}")
    check([int(u["n"]) for u in units] == [40, 30, 33], f"drops per section {[u['n'] for u in units]}")
    check(abs(float(units[1]["d0_mils_mean"]) - 24) < 0.5, "second section's mean d0")
    check(all(u["sneff_mean"] and u["mr_psi_p85"] for u in units), "AASHTO statistics missing")
    results = rows(os.path.join(WORK, "f25.csv"))
    check(len(results) == 104 and all(r["ep_psi"] for r in results), "AASHTO columns of every drop")
    # no sensor within 10 mm of 36 in: D(36) comes from the spline
    check(all(r["survey_flags"].startswith("interpolated") for r in results), "interpolated flag")
    check(all(float(r["mr_offset_in"]) > 0 for r in results), "M_R sensor")

# The sample's tests: indices normalised to 9,000 lb, sections along row order.
res = run("--sections", os.path.join(SAMPLE, "sections.csv"), "--tests", os.path.join(SAMPLE, "tests.csv"),
          "--out", os.path.join(WORK, "csv.csv"), "--indices", "--reference-load", "9000", "--aashto-c", "0.5")
check(res.returncode == 0, f"CSV: exit {res.returncode}: {res.stderr}")
if res.returncode == 0:
    r = rows(os.path.join(WORK, "csv.csv"))[0]
    t = rows(os.path.join(SAMPLE, "tests.csv"))[0]
    check(abs(float(r["d0_mils_norm"]) - float(t["d0_mils"]) * 9000 / float(t["load_lb"])) < 1e-4 * float(r["d0_mils_norm"]),
          "normalised d0")
    check(abs(float(r["mr_design_psi"]) - 0.5 * float(r["mr_psi"])) < 1e-4 * float(r["mr_psi"]), "C M_R")

# Bad options: each refused with a message naming it, before any rating.
bad = [
    (["--segments", "no_such", "--segments-out", os.path.join(WORK, "x.csv")], "\"no_such\" is not a numeric column"),
    (["--segments", "d0_mils"], "--segments needs --segments-out"),
    (["--min-length", "-1"], "--min-length needs a length"),
    (["--reference-load", "0"], "--reference-load needs a load"),
    (["--segments", "d0_mils_norm", "--segments-out", os.path.join(WORK, "x.csv")], "needs --reference-load"),
]
for extra, message in bad:
    res = run(*common, "--out", os.path.join(WORK, "bad.csv"), *extra)
    check(res.returncode == 2 and message in res.stderr, f"{extra}: exit {res.returncode}, {res.stderr!r}")

# A minimum length longer than the survey: said, and the survey one section.
res = run(*common, "--out", os.path.join(WORK, "long.csv"), "--segments", "e_subgrade", "--min-length", "1e5",
          "--segments-out", os.path.join(WORK, "long_sections.csv"))
check(res.returncode == 0 and "minimum length 100000 is longer than the survey (2550)" in res.stderr,
      f"long minimum: {res.stderr}")
if res.returncode == 0:
    check(len(rows(os.path.join(WORK, "long_sections.csv"))) == 1, "one section")

# Sections by station range: one file, each drop rated with its own section.
lines_in = open(os.path.join(SAMPLE, "sections.csv")).read().splitlines()
ranged = os.path.join(WORK, "ranged_sections.csv")
open(ranged, "w").write("\n".join([lines_in[0] + ",reps_per_year,station_from,station_to",
                                    lines_in[1] + ",,0,1700", lines_in[2] + ",,1750,2525"]) + "\n")
res = run("--sections", ranged, "--f25", f25, "--reps", "60000", "--drops", "all",
          "--out", os.path.join(WORK, "ranged.csv"), "--indices")
# Exit status 4: two drops are left out, each named.
check(res.returncode == 4, f"station ranges: exit {res.returncode}: {res.stderr}")
check(f"survey.f25:{lines[69]}:1: section \"by station\": station 1725 lies in no section's station_from..station_to" in res.stderr
      and "station 2550 lies in no section" in res.stderr, f"stations outside the ranges: {res.stderr}")
if res.returncode == 4:
    by = {}
    for r in rows(os.path.join(WORK, "ranged.csv")):
        by.setdefault(r["section"], []).append(float(r["station"]))
    check(sorted(by) == ["S1", "S2"] and max(by["S1"]) == 1700 and min(by["S2"]) == 1750
          and len(by["S1"]) == 70 and len(by["S2"]) == 32, f"drops by section: { {k: len(v) for k, v in by.items()} }")
half = os.path.join(WORK, "half_range.csv")
open(half, "w").write("\n".join([lines_in[0] + ",reps_per_year,station_from,station_to", lines_in[1] + ",,0,",
                                  lines_in[2]]) + "\n")
res = run("--sections", half, "--f25", f25, "--reps", "60000", "--out", os.path.join(WORK, "half.csv"))
check(res.returncode == 2 and "half_range.csv:2:27: station_from and station_to go together" in res.stderr,
      f"half a range: {res.returncode} {res.stderr!r}")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
