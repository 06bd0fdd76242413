"""Writes a synthetic survey for the rating tool: SECTIONS sections of TESTS
tests each, made from data/sample by perturbation with a fixed seed, so that
the same arguments always give the same files. Section k copies sample
section k mod 4 with its thicknesses and temperatures moved a little; each
test copies a sample test of that section with its deflections scaled by
one common factor (within 10 %) and each sensor by its own (within 1 %),
its hour, surface temperature and repetitions moved. The files are not
committed: they are made where a run needs them.

Usage: make_survey.py OUTPUT_DIR [SECTIONS [TESTS [SEED]]]   (100, 5000, 3071)
Writes OUTPUT_DIR/sections.csv and OUTPUT_DIR/tests.csv.
"""
import csv
import pathlib
import random
import sys

SAMPLE = pathlib.Path(__file__).resolve().parent.parent / "data" / "sample"


def read(name):
    with open(SAMPLE / name, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def section_row(base, k, rng):
    row = list(base)
    row[0] = f"P{k + 1:04d}"
    row[6:11] = [f"{float(v) + rng.uniform(-3, 3):.1f}" for v in base[6:11]]  # seasonal air temperatures
    row[11] = f"{float(base[11]) * rng.uniform(0.9, 1.1):.2f}"  # surface thickness
    row[12] = f"{float(base[12]) * rng.uniform(0.9, 1.1):.2f}"  # base thickness
    row[13] = f"{float(base[13]) + rng.uniform(-4, 4):.1f}"     # previous day's air temperature
    if k > 0:
        row[14:24] = [""] * 10  # the seasonal factors are the first section's
    return row


def test_row(base, section_id, rng):
    scale = rng.uniform(0.9, 1.1)
    row = [section_id, f"{min(23.9, max(0.0, float(base[1]) + rng.uniform(-1, 1))):.2f}", base[2]]
    row += [f"{float(d) * scale * rng.uniform(0.99, 1.01):.3f}" for d in base[3:9]]
    row += [f"{round(float(base[9]) * rng.uniform(0.8, 1.2), -2):.0f}",
            f"{float(base[10]) + rng.uniform(-5, 5):.1f}"]
    return row


def main(out, sections=100, tests=5000, seed=3071):
    rng = random.Random(seed)
    s_head, s_rows = read("sections.csv")
    t_head, t_rows = read("tests.csv")
    by_section = {}
    for r in t_rows:
        by_section.setdefault(r[0], []).append(r)
    out = pathlib.Path(out)
    out.mkdir(parents=True, exist_ok=True)
    with open(out / "sections.csv", "w", newline="") as fs, open(out / "tests.csv", "w", newline="") as ft:
        ws, wt = csv.writer(fs, lineterminator="\n"), csv.writer(ft, lineterminator="\n")
        ws.writerow(s_head)
        wt.writerow(t_head)
        for k in range(sections):
            base = s_rows[k % len(s_rows)]
            row = section_row(base, k, rng)
            ws.writerow(row)
            pool = by_section[base[0]]
            for _ in range(tests):
                wt.writerow(test_row(rng.choice(pool), row[0], rng))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(sys.argv[1], *(int(a) for a in sys.argv[2:5]))
