"""Plots and the survey report of a rating tool run.

``python3 -m zalk3071.report RESULTS RESIDUALS DIR`` draws into DIR one PNG
per section (moduli, allowable load and depth to the stiff layer along the
section: section_<id>.png) and one per test with its measured and computed
basin (basin_<section>_<test>.png), from the tool's results file and its
residuals file (--residuals).

:func:`html` writes the survey report the tool writes with ``--report``: one
HTML file with its style, script and data, from DataFrames.
"""
from __future__ import annotations

import json
import math
import os
import sys
from pathlib import Path
from typing import Any, Iterable, Mapping, Union

import pandas as pd

from . import plot


PathLike = Union[str, "os.PathLike[str]"]
Pairs = Union[Mapping[Any, Any], Iterable[tuple[Any, Any]], None]


def draw(results_file: PathLike, residuals_file: PathLike, out_dir: PathLike,
         max_basins: int = 50) -> list[str]:
    """Draws the plots of a rating tool run.

    Parameters
    ----------
    results_file : str or os.PathLike
        The tool's results (``--out``).
    residuals_file : str or os.PathLike
        The tool's residuals (``--residuals``).
    out_dir : str or os.PathLike
        The folder to draw into (made when missing).
    max_basins : int
        At most this many basin plots, the first tests first.

    Returns
    -------
    list of str
        The paths of the PNG files written.
    """
    # The tool's column "flags" would shadow DataFrame.flags: the package's name for it.
    results = pd.read_csv(results_file, dtype={"section": str, "flags": str}).rename(
        columns={"flags": "flag_names"})
    residuals = pd.read_csv(residuals_file, dtype={"section": str})
    os.makedirs(out_dir, exist_ok=True)
    written = []
    import matplotlib.pyplot as plt

    position = "station" if "station" in results.columns else None
    for sid in results["section"].unique():
        path = os.path.join(out_dir, f"section_{sid}.png")
        plt.close(plot.section(results, sid, position=position, path=path))
        written.append(path)
    for (sid, test), rows in list(residuals.groupby(["section", "test"], sort=False))[:max_basins]:
        path = os.path.join(out_dir, f"basin_{sid}_{test}.png")
        fig = plot.basin(rows["measured_mils"].to_numpy(), {"rated": rows["computed_mils"].to_numpy()},
                         offsets_in=rows["offset_in"].to_numpy(), title=f"section {sid}, test {test}", path=path)
        plt.close(fig)
        written.append(path)
    return written


# Significant digits the tool prints a column with when not its --digits.
_FIXED_DIGITS = {"station": 6, "load_lb": 6, "latitude": 8, "longitude": 8}
_RESIDUAL_DIGITS = 6


def _page_dir():
    """The page's template files: installed with the package, or in the source tree."""
    here = Path(__file__).resolve().parent
    for d in (here / "report_page", here.parent.parent / "apps" / "rate" / "report"):
        if (d / "page.html").is_file():
            return d
    raise FileNotFoundError("the report page's template files (report_page/page.html) are not installed")


def _page_template():
    d = _page_dir()
    page = (d / "page.html").read_text(encoding="utf-8")
    style = (d / "page.css").read_text(encoding="utf-8")
    script = (d / "page.js").read_text(encoding="utf-8")
    page = page.replace("/*@STYLE@*/", style, 1).replace("/*@SCRIPT@*/", script, 1)
    if page.count("@DATA@") != 1:
        raise ValueError("the report page must hold the data marker exactly once")
    return page


def _cell(value, digits, numeric):
    """A cell as the tool prints it: C's %.*g for floats ('nan' and 'inf' included);
    a missing value of a text column is an empty cell."""
    if isinstance(value, float) and (numeric or not math.isnan(value)):
        return "%.*g" % (digits, value)
    if value is None or isinstance(value, float):
        return ""
    return str(value)


def _table(frame, digits_of):
    columns = [str(c) for c in frame.columns]
    numeric = [frame[c].dtype.kind == "f" for c in frame.columns]
    digits = [digits_of(c) for c in columns]
    rows = [[_cell(float(v) if hasattr(v, "dtype") and v.dtype.kind == "f" else v, d, n)
             for v, d, n in zip(row, digits, numeric)] for row in frame.itertuples(index=False, name=None)]
    return {"columns": columns, "rows": rows}


def _json_for_script(value):
    """JSON that no text of the data can end the script element with."""
    text = json.dumps(value, ensure_ascii=False, allow_nan=False, separators=(",", ":"))
    return text.replace("<", "\\u003c").replace(">", "\\u003e").replace("&", "\\u0026")


def html(results: pd.DataFrame, residuals: pd.DataFrame | None = None, path: PathLike | None = None, *,
         title: str = "Survey report", method: str = "", inputs: Iterable[Mapping[str, Any]] | None = None,
         settings: Pairs = None, run_record: Pairs = None, segments: pd.DataFrame | None = None,
         digits: int = 6) -> str:
    """The survey report of rated drops as one self-contained HTML page, as
    the rating tool writes it with ``--report``.

    Parameters
    ----------
    results : pandas.DataFrame
        The rating tool's result columns (section, test, allowable_load,
        moduli, flags; station, latitude, longitude and the indices,
        standard errors and bands when present).
    residuals : pandas.DataFrame, optional
        The tool's residuals (section, test, sensor, offset_in,
        measured_mils, computed_mils, residual), for the basin view.
    path : str or os.PathLike, optional
        Where to write the page (UTF-8).
    title : str
        The page's title.
    method : str
        The rating method, as shown with the settings.
    inputs : iterable of mapping, optional
        The input files: file, kind, read, skipped.
    settings, run_record : mapping or iterable of pairs, optional
        Shown as name and value.
    segments : pandas.DataFrame, optional
        Homogeneous units (station_from, station_to, <column>_mean).
    digits : int
        Significant digits of the floats, printed as the tool prints them.

    Returns
    -------
    str
        The page.

    Raises
    ------
    FileNotFoundError
        The page's template files are not installed.
    ValueError
        An input's read or skipped count that is not a whole number.
    OSError
        ``path`` cannot be written.
    """
    def pairs(x):
        return [[str(k), str(v)] for k, v in (x.items() if isinstance(x, dict) else (x or []))]

    from ._zalk3071 import __version__ as version
    data = {"format": 1, "title": str(title), "generator": "zalk3071 (Python)",
            "version": version, "method": str(method or ""),
            "inputs": [{k: (str(v) if k in ("file", "kind") else int(v)) for k, v in dict(f).items()}
                       for f in (inputs or [])],
            "settings": pairs(settings), "run_record": pairs(run_record),
            "results": _table(results, lambda c: _FIXED_DIGITS.get(c, digits))}
    if residuals is not None:
        data["residuals"] = _table(residuals, lambda c: _RESIDUAL_DIGITS)
    if segments is not None:
        data["segments"] = _table(segments, lambda c: digits)
    page = _page_template().replace("@DATA@", _json_for_script(data), 1)
    if path is not None:
        with open(path, "w", encoding="utf-8") as f:
            f.write(page)
    return page


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: python3 -m zalk3071.report RESULTS RESIDUALS DIR")
    for p in draw(sys.argv[1], sys.argv[2], sys.argv[3]):
        print(p)
