"""Rates a synthetic network survey serially and on a two-worker local Dask
cluster, checks the two agree exactly, and prints wall times and tests per
second. The survey repeats the sample's tests with deflections perturbed by
up to 2 % (fixed seed), split into files of 2,000 tests.

Usage: PYTHONPATH=build/python python3 scripts/survey_bench.py [TESTS] [WORK_DIR]
"""
import os
import sys
import tempfile
import time

import numpy as np
import pandas as pd

import zalk3071 as z
from zalk3071 import distributed

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def make_survey(n, folder):
    sample = z.read_tests(os.path.join(ROOT, "data", "sample", "tests.csv"))
    rng = np.random.default_rng(20261207)
    rows = sample.iloc[np.arange(n) % len(sample)].reset_index(drop=True)
    cols = [f"d{x}_mils" for x in (0, 8, 12, 18, 24, 36)]
    rows[cols] = (rows[cols] * rng.uniform(0.98, 1.02, size=(n, 1))).round(3)
    files = []
    for k, start in enumerate(range(0, n, 2000)):
        path = os.path.join(folder, f"survey{k:02d}.csv")
        rows.iloc[start:start + 2000].to_csv(path, index=False)
        files.append(path)
    return files


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    folder = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp()
    os.makedirs(folder, exist_ok=True)
    files = make_survey(n, folder)
    sections = os.path.join(ROOT, "data", "sample", "sections.csv")
    table = os.path.join(ROOT, "data", "backdefl.txt")
    t0 = time.perf_counter()
    serial = distributed.rate_surveys(files, sections, table)
    t1 = time.perf_counter()
    from dask.distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        t2 = time.perf_counter()
        spread = distributed.rate_surveys(files, sections, table, client=client)
        t3 = time.perf_counter()
    pd.testing.assert_frame_equal(serial, spread, check_exact=True)
    print(f"{n} tests in {len(files)} files: serial {t1 - t0:.1f} s ({n / (t1 - t0):.0f} tests/s), "
          f"two workers {t3 - t2:.1f} s ({n / (t3 - t2):.0f} tests/s); results identical")


if __name__ == "__main__":
    main()
