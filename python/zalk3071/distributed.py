"""Rating deflection surveys of a whole network with Dask.

    from dask.distributed import Client
    client = Client("scheduler-host:8786")      # or LocalCluster()
    results = rate_surveys(["north.csv", "south.csv"], "sections.csv",
                           table="/data/backdefl.txt", client=client)

One task per section; each worker keeps one Rater per table (the table is read
once per worker). The table path must be readable on every worker. The
results are one table in the order of the survey files and their rows, equal
to a serial run of the same tests.
"""
import os

import pandas as pd

from ._rating import Rater, read_sections, read_tests

_raters = {}  # per worker process: table path -> Rater


def _rater(table):
    r = _raters.get(table)
    if r is None:
        r = _raters[table] = Rater(table)
    return r


def _rate_section(table, section_row, tests, method):
    result = _rater(table).rate(section_row, tests, method=method)
    result.index = tests.index
    return result


def _surveys(survey_files):
    frames = []
    for k, path in enumerate(survey_files):
        f = read_tests(path)
        f.insert(0, "survey", os.fspath(path))
        f.insert(1, "row", range(1, len(f) + 1))
        f["_order"] = [(k, i) for i in range(len(f))]
        frames.append(f)
    return pd.concat(frames, ignore_index=True)


def rate_surveys(survey_files, sections, table, client=None, method="design"):
    """Rates every test of the survey files (the rating tool's tests.csv format).

    sections: a sections.csv path or DataFrame. client: a dask.distributed
    Client; without one the sections are rated here, one after the other.
    Returns the tests' survey file and row with the rating results.
    """
    if not isinstance(sections, pd.DataFrame):
        sections = read_sections(sections)
    table = os.fspath(table)
    tests = _surveys(survey_files)
    ids = tests["section"].astype(str)
    jobs = []
    for k, sid in enumerate(sections["section"].astype(str)):
        mine = tests[ids == sid]
        if len(mine):
            jobs.append((table, sections.iloc[k:k + 1], mine.drop(columns=["_order"]), method))
    if client is None:
        parts = [_rate_section(*job) for job in jobs]
    else:
        futures = [client.submit(_rate_section, *job, pure=False) for job in jobs]
        parts = client.gather(futures)
    results = pd.concat(parts).sort_index()
    out = tests.loc[results.index, ["survey", "row"]].join(results)
    return out.reset_index(drop=True)
