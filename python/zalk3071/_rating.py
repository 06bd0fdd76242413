"""Back-calculation and load rating of deflection tests, and the overlay iteration."""
from __future__ import annotations

import os
import re
import warnings
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Iterator, Literal, Mapping, Sequence, Union

import numpy as np

from . import _zalk3071
from ._checks import finite_columns, finite_values, require_columns
from ._errors import warning_of

if TYPE_CHECKING:
    import pandas as pd

PathLike = Union[str, "os.PathLike[str]"]
Method = Literal["design", "fit"]
DepthSearch = Literal["candidates", "continuous", "global"]

SEASONS = ("fall", "winter", "spring1", "spring2", "summer")
SECTION_COLUMNS = (["section"] + [f"days_{s}" for s in SEASONS] + [f"air_{s}_f" for s in SEASONS]
                   + ["surface_in", "base_in", "prev_day_air_f"]
                   + [f"base_factor_{s}" for s in SEASONS] + [f"subgrade_factor_{s}" for s in SEASONS])
LEGACY_OFFSETS_IN = tuple(_zalk3071.RATING_MODEL["sensor_offsets_in"])
DEFLECTION_COLUMNS = [f"d{int(x)}_mils" for x in LEGACY_OFFSETS_IN]
TEST_COLUMNS = (["section", "hour", "load_lb"] + DEFLECTION_COLUMNS
                + ["reps_per_year", "surface_temp_f"])
_TEST_VALUES = ["hour", "load_lb", "reps_per_year", "surface_temp_f"]
# No column may share its name with a DataFrame attribute (frame.flags is
# pandas' own), so that frame.<column> always means the column.
RESULT_COLUMNS = (["section", "test", "allowable_load", "e_surface", "e_surface_72f", "e_base",
                   "e_subgrade", "depth_in", "fit_rms_pct", "flag_names"]
                  + [f"allowable_{s}" for s in SEASONS] + ["message", "warnings"])
OVERLAY_COLUMNS = ["section", "depth_in", "e_surface", "e_base", "e_subgrade"]
OVERLAY_RESULT_COLUMNS = ["section", "pass", "surface_in", "allowable_load"]
# The fit method's further columns: standard errors of the moduli (percent)
# from the noise model, and the allowable load one standard error either side.
FIT_COLUMNS = ["e_surface_se_pct", "e_base_se_pct", "e_subgrade_se_pct", "allowable_load_low",
               "allowable_load_high"]
MAX_TESTS = 2000  # tests of one section per library call; longer sections go in blocks
_FACTORS = [c for c in SECTION_COLUMNS if "factor" in c]
_FIT_DEFAULTS: Mapping[str, Any] = _zalk3071.fit_defaults()
# The rating's warnings name their test as "Section 1, test 7: ...".
_WARNING_TEST = re.compile(r"\btest (\d+):")


@dataclass(frozen=True)
class FitSettings:
    """Settings of the ``fit`` method; the defaults are the library's.

    Parameters
    ----------
    depth : {"candidates", "continuous", "global"}
        ``"candidates"``: the eight candidate depths to the stiff layer (12 to
        240 in); ``"continuous"``: the best candidate's depth refined between
        its neighbours; ``"global"``: every depth from ``min_depth_in`` below
        the base to 240 in, and no stiff layer at all.
    refined_depths : int
        How many of the best depth candidates are refined on the engine (1 to 8).
    lower, upper : tuple of float
        Bounds of the moduli (psi), surface, base and subgrade.
    noise_mils, noise_relative : float
        The noise model of a reading (one standard deviation: ``noise_mils``
        plus ``noise_relative`` of the reading), behind the standard errors.
    min_depth_in : float
        The global search's shallowest stiff layer below the base (in).
    """

    depth: DepthSearch = _FIT_DEFAULTS["depth"]
    refined_depths: int = _FIT_DEFAULTS["refined_depths"]
    lower: tuple[float, float, float] = _FIT_DEFAULTS["lower"]
    upper: tuple[float, float, float] = _FIT_DEFAULTS["upper"]
    noise_mils: float = _FIT_DEFAULTS["noise_mils"]
    noise_relative: float = _FIT_DEFAULTS["noise_relative"]
    min_depth_in: float = _FIT_DEFAULTS["min_depth_in"]


def _read_csv(path: PathLike) -> pd.DataFrame:
    """A CSV file of the rating tool: lines starting with '#' are comments (a
    '#' inside a field is kept), a section id is text as written ("NA" too)."""
    import io

    import pandas as pd

    with open(path, encoding="utf-8", newline="") as f:
        lines = f.read().splitlines()
    text = "\n".join(line for line in lines if not line.lstrip().startswith("#"))
    return pd.read_csv(io.StringIO(text), skip_blank_lines=True, dtype={"section": str},
                       keep_default_na=False, na_values=[""])


def read_sections(path: PathLike) -> pd.DataFrame:
    """Reads the rating tool's sections file.

    Parameters
    ----------
    path : str or os.PathLike
        A CSV file with the columns of ``SECTION_COLUMNS``.

    Returns
    -------
    pandas.DataFrame
        One row per section; the seasonal factors of the first row fill the
        rows that leave them empty.

    Raises
    ------
    ValueError
        A column is missing.
    """
    frame = _read_csv(path)
    require_columns("sections", frame, SECTION_COLUMNS)
    frame[_FACTORS] = frame[_FACTORS].ffill()
    return frame


def read_tests(path: PathLike) -> pd.DataFrame:
    """Reads the rating tool's tests file.

    Parameters
    ----------
    path : str or os.PathLike
        A CSV file with the columns of ``TEST_COLUMNS``.

    Returns
    -------
    pandas.DataFrame
        One row per deflection test.

    Raises
    ------
    ValueError
        A column is missing.
    """
    frame = _read_csv(path)
    require_columns("tests", frame, TEST_COLUMNS)
    return frame


def read_overlay(path: PathLike) -> pd.DataFrame:
    """Reads the rating tool's overlay file.

    Parameters
    ----------
    path : str or os.PathLike
        A CSV file with the columns of ``OVERLAY_COLUMNS``.

    Returns
    -------
    pandas.DataFrame
        One row per section to overlay.

    Raises
    ------
    ValueError
        A column is missing.
    """
    frame = _read_csv(path)
    require_columns("overlay", frame, OVERLAY_COLUMNS)
    return frame


def _warn(records: Sequence[Mapping[str, Any]], caller_depth: int) -> None:
    """Issues the records as ZalkWarning, attributed to the user's line:
    ``caller_depth`` frames above the function that calls this one."""
    for record in records:
        warnings.warn(warning_of(record), stacklevel=2 + caller_depth)


def _warnings_by_test(records: Sequence[Mapping[str, Any]], count: int) -> list[str]:
    """The warnings' messages of each of ``count`` tests, joined by newlines."""
    per_test: list[list[str]] = [[] for _ in range(count)]
    for record in records:
        m = _WARNING_TEST.search(record["message"])
        if m and 1 <= int(m.group(1)) <= count:
            per_test[int(m.group(1)) - 1].append(record["message"])
    return ["\n".join(w) for w in per_test]


def _fit_arguments(fit: FitSettings | Mapping[str, Any] | None) -> dict[str, Any]:
    if isinstance(fit, Mapping):
        unknown = sorted(set(fit) - set(_FIT_DEFAULTS))
        if unknown:
            raise ValueError(f"fit: unknown setting(s) {', '.join(unknown)}")
        fit = FitSettings(**fit)
    fit = FitSettings() if fit is None else fit
    if not isinstance(fit, FitSettings):
        raise TypeError(f"fit: a FitSettings expected, got {type(fit).__name__}")
    if isinstance(fit.refined_depths, bool) or not isinstance(fit.refined_depths, (int, np.integer)):
        raise TypeError(f"fit.refined_depths: an integer expected, got {fit.refined_depths!r}")
    noise = finite_values("fit noise", [fit.noise_mils, fit.noise_relative, fit.min_depth_in], 3)
    return dict(depth=fit.depth, refined_depths=int(fit.refined_depths),
                lower=tuple(finite_values("fit.lower", fit.lower, 3)),
                upper=tuple(finite_values("fit.upper", fit.upper, 3)),
                noise_mils=float(noise[0]), noise_relative=float(noise[1]), min_depth_in=float(noise[2]))


def _frames(sections: Any, tests: Any) -> None:
    import pandas as pd

    if not isinstance(sections, pd.DataFrame) or not isinstance(tests, pd.DataFrame):
        raise TypeError("sections and tests: pandas DataFrames expected")


def _offsets(offsets: Sequence[float], deflection_columns: Sequence[str] | None
             ) -> tuple[np.ndarray, list[str]]:
    defl_cols = list(deflection_columns or DEFLECTION_COLUMNS)
    values = np.ascontiguousarray(offsets, dtype=np.float64)
    if values.ndim != 1 or len(values) != len(defl_cols):
        raise ValueError(f"offsets: {len(defl_cols)} values expected, one per deflection column")
    return values, defl_cols


class Rater:
    """Rates deflection tests section by section.

    A Rater owns its deflection table, read once, and rates one call at a
    time: calls from several threads wait for each other (use one Rater per
    thread or process to rate in parallel).

    Parameters
    ----------
    table : str or os.PathLike
        The deflection table file (``backdefl.txt``).

    Raises
    ------
    TypeError
        ``table`` is not a path.
    ZalkError
        The table is missing, unreadable or malformed (the message names it).
    """

    def __init__(self, table: PathLike) -> None:
        if not isinstance(table, (str, os.PathLike)):
            raise TypeError(f"table: a file path expected, got {type(table).__name__}")
        self._rater = _zalk3071.Rater(os.fspath(table))

    def rate(self, sections: pd.DataFrame, tests: pd.DataFrame, method: Method = "design",
             offsets: Sequence[float] = LEGACY_OFFSETS_IN,
             deflection_columns: Sequence[str] | None = None,
             fit: FitSettings | Mapping[str, Any] | None = None) -> pd.DataFrame:
        """Rates every test of ``tests`` with its section's row of ``sections``.

        Parameters
        ----------
        sections : pandas.DataFrame
            One row per section with ``SECTION_COLUMNS``.
        tests : pandas.DataFrame
            One row per test with ``TEST_COLUMNS`` (the deflections in the
            columns ``deflection_columns``); every test's section must be in
            ``sections``.
        method : {"design", "fit"}
            ``"design"``: the legacy back-calculation on the deflection table;
            ``"fit"``: least squares on the engine at the test's own sensors,
            starting from the design's answer and never worse than it.
        offsets : sequence of float
            The sensor offsets in inches, increasing (the legacy six by default).
        deflection_columns : sequence of str, optional
            The columns of the deflections (mils) at ``offsets``; by default
            ``d0_mils`` ... ``d36_mils``.
        fit : FitSettings or dict, optional
            Settings of the ``fit`` method (the library's defaults by default;
            a dict gives some of FitSettings' fields by name).

        Returns
        -------
        pandas.DataFrame
            One row per test, in the order of ``tests``, with ``RESULT_COLUMNS``:
            ``allowable_load``, the moduli (psi), ``depth_in``, ``fit_rms_pct``,
            ``flag_names`` (joined by ``|``), ``allowable_<season>`` (the
            allowable load each season alone would give), ``message`` (why a
            test was not fitted, or what its flags mean) and ``warnings`` (the
            library's warnings about the test, one per line); with
            ``method="fit"`` also ``FIT_COLUMNS``.

        Raises
        ------
        TypeError
            ``sections`` or ``tests`` is not a DataFrame.
        ValueError
            A column is missing, a value is not a finite number, a test's
            section is unknown or given twice in ``sections``, or ``method`` or a
            fit setting is not one the library knows.
        ZalkInputError
            The library refused a value (out of its range; the message names it).
        ZalkError
            The rating failed.

        Warns
        -----
        ZalkWarning
            Each warning of the library (also in the test's ``warnings``).
        """
        import pandas as pd

        _frames(sections, tests)
        offset_values, defl_cols = _offsets(offsets, deflection_columns)
        fit_args = _fit_arguments(fit)
        require_columns("sections", sections, SECTION_COLUMNS)
        require_columns("tests", tests, ["section"] + _TEST_VALUES + defl_cols)
        ids_given = sections["section"].astype(str)
        twice = sorted(set(ids_given[ids_given.duplicated()]))
        if twice:
            raise ValueError(f"sections: section(s) {', '.join(twice)} given more than once")
        columns = RESULT_COLUMNS + (FIT_COLUMNS if method == "fit" else [])
        if len(tests) == 0:
            return pd.DataFrame({c: pd.Series(dtype=object if c in ("section", "flag_names", "message", "warnings")
                                              else float) for c in columns})
        known = set(sections["section"].astype(str))
        unknown = sorted(set(tests["section"].astype(str)) - known)
        if unknown:
            raise ValueError(f"tests: section(s) {', '.join(unknown)} not in sections")
        section_values = finite_columns("sections", sections, SECTION_COLUMNS[1:])
        values = finite_columns("tests", tests, _TEST_VALUES)
        deflections = finite_columns("tests", tests, defl_cols)
        ids = tests["section"].astype(str).to_numpy()
        parts = []
        for k, sid in enumerate(sections["section"].astype(str)):
            rows = np.flatnonzero(ids == sid)
            if len(rows) == 0:
                continue
            chunks = list(self._rate_chunks(section_values[k:k + 1], values[rows], offset_values,
                                            deflections[rows], method, fit_args))
            part = pd.DataFrame({c: np.concatenate([r[c] for r in chunks]) for c in columns[2:]})
            part.insert(0, "test", np.arange(1, len(rows) + 1))
            part.insert(0, "section", sid)
            part.index = rows
            parts.append(part)
        return pd.concat(parts).sort_index().reset_index(drop=True)

    def _rate_chunks(self, section: np.ndarray, values: np.ndarray, offsets: np.ndarray,
                     deflections: np.ndarray, method: str, fit_args: dict[str, Any]
                     ) -> Iterator[dict[str, Any]]:
        """The library rates at most MAX_TESTS tests of a section per call."""
        for start in range(0, len(values), MAX_TESTS):
            end = start + MAX_TESTS
            r = self._rater.rate(section, values[start:end], offsets, deflections[start:end], method,
                                 **fit_args)
            _warn(r["warnings"], caller_depth=2)  # this generator runs inside rate
            r["warnings"] = _warnings_by_test(r["warnings"], len(r["allowable_load"]))
            for m, season in enumerate(SEASONS):
                r[f"allowable_{season}"] = r["season_allowable"][:, m]
            yield r

    def overlay(self, sections: pd.DataFrame, tests: pd.DataFrame, items: pd.DataFrame,
                dh_in: float, offsets: Sequence[float] = LEGACY_OFFSETS_IN,
                deflection_columns: Sequence[str] | None = None) -> pd.DataFrame:
        """Thickens sections pass by pass and rates each pass.

        Each item's section gets ``dh_in`` more surface per pass; its first
        test's basin is recomputed for the item's moduli and rated again,
        until the surface has grown by 6 in beyond the first increment (at
        most 20 passes). The seasonal factors of the first item serve every
        item.

        Parameters
        ----------
        sections, tests : pandas.DataFrame
            As for :meth:`rate`; each item's section needs at least one test.
        items : pandas.DataFrame
            One row per section to overlay, with ``OVERLAY_COLUMNS``: ``section``,
            ``depth_in`` (thickness of the third layer, in) and the moduli
            ``e_surface``, ``e_base``, ``e_subgrade`` (psi). 1 to 20 rows.
        dh_in : float
            The thickness added per pass, inches (above 0, at most 12).
        offsets, deflection_columns
            As for :meth:`rate`.

        Returns
        -------
        pandas.DataFrame
            One row per pass with ``OVERLAY_RESULT_COLUMNS``: ``section``,
            ``pass`` (from 1), ``surface_in`` (the pass's surface thickness)
            and ``allowable_load``.

        Raises
        ------
        TypeError
            An argument is not a DataFrame.
        ValueError
            A column is missing, a value is not finite, or an item's section is
            not in ``sections`` or has no test.
        ZalkInputError
            The library refused a value (the message names it).
        ZalkError
            The iteration failed.

        Warns
        -----
        ZalkWarning
            Each warning of the library.
        """
        import pandas as pd

        _frames(sections, tests)
        _frames(items, tests)
        offset_values, defl_cols = _offsets(offsets, deflection_columns)
        require_columns("sections", sections, SECTION_COLUMNS)
        require_columns("tests", tests, ["section"] + _TEST_VALUES + defl_cols)
        require_columns("items", items, OVERLAY_COLUMNS)
        section_ids = list(sections["section"].astype(str))
        test_ids = list(tests["section"].astype(str))
        rows, firsts = [], []
        for i, sid in enumerate(items["section"].astype(str)):
            if sid not in section_ids:
                raise ValueError(f"items: row {i}: section {sid} is not in sections")
            if sid not in test_ids:
                raise ValueError(f"items: row {i}: section {sid} has no test; the overlay uses its first test")
            rows.append(section_ids.index(sid))
            firsts.append(test_ids.index(sid))
        section_values = finite_columns("sections", sections, SECTION_COLUMNS[1:])[rows]
        values = finite_columns("tests", tests, _TEST_VALUES)[firsts]
        deflections = finite_columns("tests", tests, defl_cols)[firsts]
        item_values = finite_columns("items", items, OVERLAY_COLUMNS[1:])
        r = self._rater.overlay(section_values, values, offset_values, deflections, item_values,
                                float(finite_values("dh_in", [dh_in], 1)[0]))
        _warn(r["warnings"], caller_depth=1)
        names = np.asarray(items["section"].astype(str))
        return pd.DataFrame({"section": names[r["item"]], "pass": r["pass"],
                             "surface_in": r["surface_in"], "allowable_load": r["allowable_load"]})


def back_calculate(rater: Rater, section: pd.Series, test: pd.Series, method: Method = "design",
                   fit: FitSettings | None = None) -> pd.Series:
    """Back-calculates and rates one test on its own.

    Parameters
    ----------
    rater : Rater
        The rater to use.
    section : pandas.Series
        The section's row (``SECTION_COLUMNS``).
    test : pandas.Series
        The test's row (``TEST_COLUMNS``).
    method : {"design", "fit"}
        As for :meth:`Rater.rate`.
    fit : FitSettings, optional
        As for :meth:`Rater.rate`.

    Returns
    -------
    pandas.Series
        The test's row of :meth:`Rater.rate`.

    Raises
    ------
    ValueError, ZalkError
        As :meth:`Rater.rate`.
    """
    import pandas as pd

    result = rater.rate(pd.DataFrame([section]), pd.DataFrame([test]), method=method, fit=fit)
    return result.iloc[0]
