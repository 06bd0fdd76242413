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
from __future__ import annotations

import os
from typing import Any, Sequence, Union

import pandas as pd

from ._rating import Method, Rater, read_sections, read_tests

PathLike = Union[str, "os.PathLike[str]"]
_raters: dict[str, Rater] = {}  # per worker process: table path -> Rater


def _rater(table: str) -> Rater:
    r = _raters.get(table)
    if r is None:
        r = _raters[table] = Rater(table)
    return r


def _rate_section(table: str, section_row: pd.DataFrame, tests: pd.DataFrame,
                  method: Method) -> pd.DataFrame:
    result = _rater(table).rate(section_row, tests, method=method)
    result.index = tests.index
    return result


def _surveys(survey_files: Sequence[PathLike]) -> pd.DataFrame:
    frames = []
    for k, path in enumerate(survey_files):
        f = read_tests(path)
        f.insert(0, "survey", os.fspath(path))
        f.insert(1, "row", range(1, len(f) + 1))
        f["_order"] = [(k, i) for i in range(len(f))]
        frames.append(f)
    return pd.concat(frames, ignore_index=True)


def rate_surveys(survey_files: Sequence[PathLike], sections: PathLike | pd.DataFrame, table: PathLike,
                 client: Any = None, method: Method = "design") -> pd.DataFrame:
    """Rates every test of the survey files, one task per section.

    Parameters
    ----------
    survey_files : sequence of str or os.PathLike
        Files in the rating tool's tests.csv format.
    sections : str, os.PathLike or pandas.DataFrame
        A sections.csv path or its DataFrame.
    table : str or os.PathLike
        The deflection table; readable at this path on every worker.
    client : dask.distributed.Client, optional
        Where to rate; without one the sections are rated here, one after the
        other.
    method : {"design", "fit"}
        As for :meth:`Rater.rate`.

    Returns
    -------
    pandas.DataFrame
        The tests' survey file (``survey``) and row (``row``, from 1) with
        their results, in the order of the files and their rows.

    Raises
    ------
    ValueError, ZalkError
        As :meth:`Rater.rate`.
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
