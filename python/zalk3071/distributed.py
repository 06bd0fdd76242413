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


class SurveyError(Exception):
    """Some sections could not be rated.

    Attributes
    ----------
    results : pandas.DataFrame
        The other sections' results, as :func:`rate_surveys` returns them.
    errors : dict of str to Exception
        Each failed section id with its error.
    """

    def __init__(self, results: pd.DataFrame, errors: dict[str, Exception]) -> None:
        names = ", ".join(f"{sid}: {e}" for sid, e in errors.items())
        super().__init__(f"{len(errors)} section(s) not rated ({names}); the others' results are in .results")
        self.results = results
        self.errors = errors


def _rate_section(table: str, section_row: pd.DataFrame, tests: pd.DataFrame,
                  method: Method) -> pd.DataFrame | Exception:
    """The section's results, or its error (returned, so that one section's
    fault does not discard the others')."""
    try:
        result = _rater(table).rate(section_row, tests, method=method)
    except Exception as e:  # noqa: BLE001 - handed back to the caller with its section
        return e
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


def _refuse_unknown_sections(tests: pd.DataFrame, known: set[str]) -> None:
    unknown = tests[~tests["section"].astype(str).isin(known)]
    if len(unknown):
        first = unknown.iloc[0]
        ids = ", ".join(sorted(set(unknown["section"].astype(str))))
        raise ValueError(f"tests of section(s) {ids} not in sections (first: {first['survey']} row {first['row']})")


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
    ValueError
        A test whose section is not in ``sections`` (named), or as
        :meth:`Rater.rate`.
    SurveyError
        Some sections failed: it carries the other sections' results
        (``.results``) and each failure (``.errors``).
    """
    if not isinstance(sections, pd.DataFrame):
        sections = read_sections(sections)
    table = os.fspath(table)
    tests = _surveys(survey_files)
    ids = tests["section"].astype(str)
    section_ids = sections["section"].astype(str)
    _refuse_unknown_sections(tests, set(section_ids))
    jobs = []
    for k, sid in enumerate(section_ids):
        mine = tests[ids == sid]
        if len(mine):
            jobs.append((sid, (table, sections.iloc[k:k + 1], mine.drop(columns=["_order"]), method)))
    if client is None:
        parts = [_rate_section(*job) for _, job in jobs]
    else:
        futures = [client.submit(_rate_section, *job, pure=False) for _, job in jobs]
        parts = client.gather(futures)
    errors = {sid: p for (sid, _), p in zip(jobs, parts) if isinstance(p, Exception)}
    rated = [p for p in parts if not isinstance(p, Exception)]
    out = _joined(tests, rated)
    if errors:
        raise SurveyError(out, errors)
    return out


def _joined(tests: pd.DataFrame, parts: list[pd.DataFrame]) -> pd.DataFrame:
    if not parts:
        return tests.loc[[], ["survey", "row"]].reset_index(drop=True)
    results = pd.concat(parts).sort_index()
    out = tests.loc[results.index, ["survey", "row"]].join(results)
    return out.reset_index(drop=True)
