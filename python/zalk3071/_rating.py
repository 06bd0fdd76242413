"""Back-calculation and load rating of deflection tests."""
import os

import numpy as np

from . import _zalk3071
from ._checks import finite_columns, require_columns

SEASONS = ("fall", "winter", "spring1", "spring2", "summer")
SECTION_COLUMNS = (["section"] + [f"days_{s}" for s in SEASONS] + [f"air_{s}_f" for s in SEASONS]
                   + ["surface_in", "base_in", "prev_day_air_f"]
                   + [f"base_factor_{s}" for s in SEASONS] + [f"subgrade_factor_{s}" for s in SEASONS])
LEGACY_OFFSETS_IN = (0.0, 8.0, 12.0, 18.0, 24.0, 36.0)
DEFLECTION_COLUMNS = [f"d{int(x)}_mils" for x in LEGACY_OFFSETS_IN]
TEST_COLUMNS = (["section", "hour", "load_lb"] + DEFLECTION_COLUMNS
                + ["reps_per_year", "surface_temp_f"])
RESULT_COLUMNS = ["section", "test", "allowable_load", "e_surface", "e_surface_72f", "e_base",
                  "e_subgrade", "depth_in", "fit_rms_pct", "flags"] + [f"allowable_{s}" for s in SEASONS] + ["message"]
# The fit method's further columns: standard errors of the moduli (percent)
# from the noise model, and the allowable load one standard error either side.
FIT_COLUMNS = ["e_surface_se_pct", "e_base_se_pct", "e_subgrade_se_pct", "allowable_load_low",
               "allowable_load_high"]
FIT_DEFAULTS = {"depth": "candidates", "noise_mils": 0.08, "noise_relative": 0.01, "min_depth_in": 2.0}
MAX_TESTS = 2000  # tests of one section per library call; longer sections go in blocks
_FACTORS = [c for c in SECTION_COLUMNS if "factor" in c]


def _read_csv(path):
    """A CSV file of the rating tool: lines starting with '#' are comments (a
    '#' inside a field is kept), a section id is text as written ("NA" too)."""
    import io

    import pandas as pd

    with open(path, encoding="utf-8", newline="") as f:
        lines = f.read().splitlines()
    text = "\n".join(line for line in lines if not line.lstrip().startswith("#"))
    return pd.read_csv(io.StringIO(text), skip_blank_lines=True, dtype={"section": str},
                       keep_default_na=False, na_values=[""])


def read_sections(path):
    """The rating tool's sections.csv as a DataFrame (factors of the first row
    fill the rows that leave them empty)."""
    frame = _read_csv(path)
    require_columns("sections", frame, SECTION_COLUMNS)
    frame[_FACTORS] = frame[_FACTORS].ffill()
    return frame


def read_tests(path):
    """The rating tool's tests.csv as a DataFrame."""
    frame = _read_csv(path)
    require_columns("tests", frame, TEST_COLUMNS)
    return frame


class Rater:
    """Rates deflection tests section by section.

    table: path of the deflection table (backdefl.txt), read once. A Rater
    rates one call at a time: calls from several threads wait for each other
    (use one Rater per thread to rate in parallel).
    """

    def __init__(self, table):
        if not isinstance(table, (str, os.PathLike)):
            raise TypeError(f"table: a file path expected, got {type(table).__name__}")
        self._rater = _zalk3071.Rater(os.fspath(table))

    def rate(self, sections, tests, method="design", offsets=LEGACY_OFFSETS_IN,
             deflection_columns=None, fit=None):
        """Rates every test of ``tests`` with its section's row of ``sections``.

        sections, tests: DataFrames with the rating tool's columns
        (SECTION_COLUMNS, TEST_COLUMNS). offsets: the sensor offsets in
        inches (the legacy six by default) and deflection_columns their
        columns in ``tests`` (d0_mils ... by default). Returns one row per
        test, in the order of ``tests``, with RESULT_COLUMNS (allowable_<season>:
        the allowable load each season alone would give; message: why a test
        flagged not_fitted could not be fitted). A section of more
        than MAX_TESTS tests is rated in blocks of MAX_TESTS. A section id
        given twice in ``sections`` is refused; no tests give an empty frame. fit: settings of
        the fit method (FIT_DEFAULTS' keys; depth "candidates", "continuous"
        or "global"); with method="fit" the rows also carry FIT_COLUMNS.
        """
        import pandas as pd

        settings = dict(FIT_DEFAULTS)
        unknown_settings = sorted(set(fit or {}) - set(FIT_DEFAULTS))
        if unknown_settings:
            raise ValueError(f"fit: unknown setting(s) {', '.join(unknown_settings)}")
        settings.update(fit or {})
        columns = RESULT_COLUMNS + (FIT_COLUMNS if method == "fit" else [])
        if not isinstance(sections, pd.DataFrame) or not isinstance(tests, pd.DataFrame):
            raise TypeError("sections and tests: pandas DataFrames expected")
        defl_cols = list(deflection_columns or DEFLECTION_COLUMNS)
        offsets = np.ascontiguousarray(offsets, dtype=np.float64)
        if offsets.ndim != 1 or len(offsets) != len(defl_cols):
            raise ValueError(f"offsets: {len(defl_cols)} values expected, one per deflection column")
        require_columns("sections", sections, SECTION_COLUMNS)
        require_columns("tests", tests, ["section", "hour", "load_lb", "reps_per_year",
                                          "surface_temp_f"] + defl_cols)
        ids_given = sections["section"].astype(str)
        twice = sorted(set(ids_given[ids_given.duplicated()]))
        if twice:
            raise ValueError(f"sections: section(s) {', '.join(twice)} given more than once")
        if len(tests) == 0:
            return pd.DataFrame({c: pd.Series(dtype=object if c in ("section", "flags", "message") else float)
                                 for c in RESULT_COLUMNS})
        known = set(sections["section"].astype(str))
        unknown = sorted(set(tests["section"].astype(str)) - known)
        if unknown:
            raise ValueError(f"tests: section(s) {', '.join(unknown)} not in sections")
        section_values = finite_columns("sections", sections, SECTION_COLUMNS[1:])
        values = finite_columns("tests", tests, ["hour", "load_lb", "reps_per_year", "surface_temp_f"])
        deflections = finite_columns("tests", tests, defl_cols)
        ids = tests["section"].astype(str).to_numpy()
        parts = []
        for k, sid in enumerate(sections["section"].astype(str)):
            rows = np.flatnonzero(ids == sid)
            if len(rows) == 0:
                continue
            chunks = list(self._rate_chunks(section_values[k:k + 1], values[rows], offsets,
                                            deflections[rows], method, settings))
            for r in chunks:
                for m, season in enumerate(SEASONS):
                    r[f"allowable_{season}"] = r["season_allowable"][:, m]
            part = pd.DataFrame({c: np.concatenate([r[c] for r in chunks]) for c in columns[2:]})
            part.insert(0, "test", np.arange(1, len(rows) + 1))
            part.insert(0, "section", sid)
            part.index = rows
            parts.append(part)
        return pd.concat(parts).sort_index().reset_index(drop=True)


    def _rate_chunks(self, section, values, offsets, deflections, method, settings):
        """The library rates at most MAX_TESTS tests of a section per call."""
        for start in range(0, len(values), MAX_TESTS):
            end = start + MAX_TESTS
            yield self._rater.rate(section, values[start:end], offsets, deflections[start:end], method,
                                   **settings)


def back_calculate(rater, section, test, method="design", fit=None):
    """Moduli, depth and allowable load of one test (Series in, Series out)."""
    import pandas as pd

    result = rater.rate(pd.DataFrame([section]), pd.DataFrame([test]), method=method, fit=fit)
    return result.iloc[0]
