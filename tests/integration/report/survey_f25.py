"""Writes a synthetic F25 survey of N test locations along a curving road,
one drop each, with GPS: the sample's S2 basins scaled by a stiffness that
wanders along the road (weak lengths and stiff ones), 25 m apart; every
97th basin has its fourth reading three times too large (the reader flags it
implausible).

Usage: survey_f25.py N > survey.f25
"""
import csv
import math
import os
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tools"))
from make_f25_sample import NEWTONS_PER_POUND, RADIUS_MM, basin_um, header  # noqa: E402


def main():
    n = int(sys.argv[1])
    rows = [r for r in csv.DictReader(open(os.path.join(ROOT, "data", "sample", "tests.csv"))) if r["section"] == "S2"]
    out = header()
    area = math.pi * RADIUS_MM * RADIUS_MM * 1e-6
    for k in range(n):
        r = rows[k % len(rows)]
        # Deflections up to 40 % above or below the sample's, in stretches of about 50 locations.
        scale = 1.0 + 0.3 * math.sin(k / 37.0) + 0.1 * math.sin(k / 5.3)
        mils = [float(r[f"d{x}_mils"]) * scale for x in (0, 8, 12, 18, 24, 36)]
        if k % 97 == 50:
            mils[3] *= 3.0
        ts_c = (float(r["surface_temp_f"]) - 32.0) * 5.0 / 9.0
        lat = 44.97 + 0.000225 * k * math.cos(k / 400.0)
        lon = -93.26 + 0.000318 * k * math.sin(k / 400.0 + 0.6)
        out.append(f"5280,    0, {345600.0 + 60 * k:9.1f}, {lat:.6f}, {lon:.6f},  256.0")
        out.append(f'5301,    0,"m",{25.0 * k:10.1f},"L1",2026,10,14,10, 0')
        out.append('5302,"dry"')
        out.append(f"5303,    0,   N0,{ts_c:6.1f},   N0")
        stress = float(r["load_lb"]) * NEWTONS_PER_POUND / 1000.0 / area
        out.append(f"{1:4d},{stress:7.1f}," + ",".join(f"{v:6.1f}" for v in basin_um(mils, 0.55)))
    print("\n".join(out))


if __name__ == "__main__":
    main()
