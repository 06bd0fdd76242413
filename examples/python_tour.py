"""A tour of the zalk3071 Python package, as one would run it in a notebook.

Run from a build tree:  PYTHONPATH=build/python python3 examples/python_tour.py [OUT_DIR]
(or after `pip install --no-build-isolation .`). Writes its plots to OUT_DIR.
"""
import os
import sys

import zalk3071 as z
from zalk3071 import plot

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
out = sys.argv[1] if len(sys.argv) > 1 else "zalk3071-plots"
os.makedirs(out, exist_ok=True)

# 1. Layered elastic analysis: a four-layer pavement under one wheel load.
r = z.analyse([[4.0, 500e3, 0.35], [8.0, 40e3, 0.40], [24.0, 12e3, 0.45], [0.0, 30e3, 0.45]],
              loads=[[0, 0, 80.0, 5.9]], points=[[0, 0, 0], [12, 0, 0], [0, 0, 3.99]])
print(r.to_frame()[["layer", "w", "strain_xx", "stress_zz"]])

# 2. Rate the sample survey with the design method.
sections = z.read_sections(os.path.join(ROOT, "data", "sample", "sections.csv"))
tests = z.read_tests(os.path.join(ROOT, "data", "sample", "tests.csv"))
rater = z.Rater(os.path.join(ROOT, "data", "backdefl.txt"))
results = rater.rate(sections, tests)
print(results.groupby("section")[["allowable_load", "e_surface", "e_base", "e_subgrade"]].median())

# 3. One test back-calculated with each method the library offers, and its basin.
section, test = sections.iloc[0], tests.iloc[0]
computed = {}
for method in ("design", "fit"):
    try:
        one = z.back_calculate(rater, section, test, method=method)
    except ValueError:  # a library built without the fit method
        continue
    computed[method] = plot.computed_basin(one, section["surface_in"], section["base_in"],
                                           test["load_lb"])
measured = test[[f"d{x}_mils" for x in (0, 8, 12, 18, 24, 36)]].astype(float).to_numpy()
plot.basin(measured, computed, title="sample test S1/1", path=os.path.join(out, "basin.png"))

# 4. A section along its length.
plot.section(results, "S1", path=os.path.join(out, "section_S1.png"))
print(f"plots in {out}")
