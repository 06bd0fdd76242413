"""Network-scale rating on a two-worker local Dask cluster equals a serial run."""
import os

import pandas as pd
import pytest

from zalk3071 import distributed

pytest.importorskip("dask.distributed")


def test_local_cluster_gives_the_serial_results(table, sample, tmp_path):
    from dask.distributed import Client, LocalCluster

    sections, tests = sample
    # Two survey files of every fourth sample test, the later half first.
    few = tests.iloc[::4]
    a, b = tmp_path / "a.csv", tmp_path / "b.csv"
    few.iloc[30:].to_csv(a, index=False)
    few.iloc[:30].to_csv(b, index=False)
    serial = distributed.rate_surveys([a, b], sections, table)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        spread = distributed.rate_surveys([a, b], sections, table, client=client)
    pd.testing.assert_frame_equal(serial, spread, check_exact=True)
    assert len(spread) == len(few)
    assert spread["survey"].iloc[0] == str(a) and spread["row"].iloc[0] == 1
