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


class SurveyError(Exception):
    """Some sections could not be rated. ``results`` holds the other sections'
    results, as rate_surveys returns them; ``errors`` maps each failed
    section id to its error."""

    def __init__(self, results, errors):
        names = ", ".join(f"{sid}: {e}" for sid, e in errors.items())
        super().__init__(f"{len(errors)} section(s) not rated ({names}); the others' results are in .results")
        self.results = results
        self.errors = errors


def _rate_section(table, section_row, tests, method):
    """The section's results, or its error (returned, so that one section's
    fault does not discard the others')."""
    try:
        result = _rater(table).rate(section_row, tests, method=method)
    except Exception as e:  # noqa: BLE001 - handed back to the caller with its section
        return e
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


def _refuse_unknown_sections(tests, known):
    unknown = tests[~tests["section"].astype(str).isin(known)]
    if len(unknown):
        first = unknown.iloc[0]
        ids = ", ".join(sorted(set(unknown["section"].astype(str))))
        raise ValueError(f"tests of section(s) {ids} not in sections (first: {first['survey']} row {first['row']})")


def rate_surveys(survey_files, sections, table, client=None, method="design"):
    """Rates every test of the survey files (the rating tool's tests.csv format).

    sections: a sections.csv path or DataFrame. client: a dask.distributed
    Client; without one the sections are rated here, one after the other.
    Returns the tests' survey file and row with the rating results. A test
    whose section is not in ``sections`` is refused (ValueError naming it).
    When some sections fail, SurveyError is raised carrying the other
    sections' results (``.results``) and each failure (``.errors``).
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


def _joined(tests, parts):
    if not parts:
        return tests.loc[[], ["survey", "row"]].reset_index(drop=True)
    results = pd.concat(parts).sort_index()
    out = tests.loc[results.index, ["survey", "row"]].join(results)
    return out.reset_index(drop=True)
