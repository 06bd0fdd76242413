"""Writes data/sample/S2.f25: the first tests of section S2 of the sample as
an F25 field file (one test location per test, two drops each: a seating
drop at 80 % of the load and the test's own), with the quirks field files
have: N0 fields, an absent sensor, trailing fields, a comment object and a
sensor-history block. Sensors at 0, 203, 305, 457, 610, 914 mm and 1524 mm:
the six of the tests file, and the 60-in reading computed by the engine as
the 36-in one times the ratio of the two deflections of the test's true
structure (data/sample/truth.csv), so that the seventh sensor belongs to the
same basin.

Usage: PYTHONPATH=build/python python3 tools/make_f25_sample.py [TESTS] > data/sample/S2.f25
(the compiled package computes the outer reading).
"""
import csv
import math
import os
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
RADIUS_MM = 150.0
OFFSETS_MM = [0, 203, 305, 457, 610, 914, 1524]
NEWTONS_PER_POUND = 4.4482216152605


def header():
    lines = ['5001,"1.00",   40,    4,    2', '5002,"sample.fwd"', '5003,"S2.f25"', "5010,    0,    0",
             "5011,2026,   10,   14,    9,    0", '5200,"LoadCell",    1,  1.000']
    names = [f"D{k + 1}" for k in range(7)] + ["NA"] * 11
    lines += [f'52{k + 1:02d},"{n}",    1,  1.000' for k, n in enumerate(names)]
    offs = [str(x) for x in OFFSETS_MM] + ["N0"] * 11
    lines.append("5020,  150," + ",".join(f"{o:>5}" for o in offs))
    lines.append("5021,  300," + ",".join(f"{'0' if o != 'N0' else 'N0':>5}" for o in offs))
    lines += ["5022,  200,  400", "5023,    0,    0", "5024,    1,    0", "5029,    1,    2", '5030,"crew 1"',
              '5031,"SAMPLE ROAD"', '5032,"S2"', '5301,    0,"m",     0.0,"L1",2026,10,14, 9, 0', '5302,""',
              "5303,    0,   N0,   N0,   N0", '5041,"synthetic sample"', '5042,""', '5043,""', '5044,""']
    assert len(lines) == 40
    return lines


def outer_ratio(truth, section):
    """w(60 in) / w(36 in) of the test's true structure (the rating model's
    under the section's layers and the truth's moduli and depth)."""
    # Only here: the other functions serve generators that need no engine.
    from zalk3071.plot import computed_basin
    moduli = {k: float(truth[k]) for k in ("e_surface", "e_base", "e_subgrade", "depth_in")}
    w = computed_basin(moduli, float(section["surface_in"]), float(section["base_in"]), 10000.0, [36.0, 60.0])
    return float(w[1] / w[0])


def basin_um(mils, ratio):
    """The six table sensors from the sample, and 1524 mm from the 36-in reading."""
    um = [round(m * 25.4, 1) for m in mils]
    return um + [round(um[-1] * ratio, 1)]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 12
    rows = [r for r in csv.DictReader(open(os.path.join(ROOT, "data", "sample", "tests.csv")))
            if r["section"] == "S2"][:count]
    truths = [t for t in csv.DictReader(open(os.path.join(ROOT, "data", "sample", "truth.csv")))
              if t["section"] == "S2"][:count]
    section = next(s for s in csv.DictReader(open(os.path.join(ROOT, "data", "sample", "sections.csv")))
                   if s["section"] == "S2")
    out = header()
    area = math.pi * RADIUS_MM * RADIUS_MM * 1e-6
    for k, (r, truth) in enumerate(zip(rows, truths)):
        ratio = outer_ratio(truth, section)
        hour = float(r["hour"])
        hh, mm = int(hour), int(round((hour - int(hour)) * 60)) % 60
        ts_c = (float(r["surface_temp_f"]) - 32.0) * 5.0 / 9.0
        if k == 3:
            out.append('7901,"operator: cones moved"')
        if k == 6:
            out += ["5185,    2", "1001,    1,  0.998", "1002,    2,  1.003"]
        out.append(f"5280,    0, {345600.0 + 60 * k:9.1f}, 44.{971000 + 37 * k:06d}, -93.{264000 + 41 * k:06d},"
                   f"  256.0")
        out.append(f'5301,    0,"m",{25.0 * k:10.1f},"L1",2026,10,14,{hh:2d},{mm:2d}')
        out.append('5302,"dry"')
        out.append(f"5303,    0,   N0,{ts_c:6.1f},   N0")
        stress = float(r["load_lb"]) * NEWTONS_PER_POUND / 1000.0 / area
        mils = [float(r[f"d{x}_mils"]) for x in (0, 8, 12, 18, 24, 36)]
        for drop, f in ((1, 0.8), (2, 1.0)):
            d = [f"{v * f:6.1f}" for v in basin_um(mils, ratio)]
            trailing = ",   21.5" if drop == 2 else ""
            out.append(f"{drop:4d},{stress * f:7.1f}," + ",".join(d) + trailing)
    print("\n".join(out))


if __name__ == "__main__":
    main()
