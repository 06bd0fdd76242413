"""Plots of a rating tool run: ``python3 -m zalk3071.report RESULTS RESIDUALS DIR``.

Draws into DIR one PNG per section (moduli, allowable load and depth to the
stiff layer along the section: section_<id>.png) and one per test with its
measured and computed basin (basin_<section>_<test>.png), from the tool's
results file and its residuals file (--residuals).
"""
from __future__ import annotations

import os
import sys
from typing import Union

import pandas as pd

from . import plot


PathLike = Union[str, "os.PathLike[str]"]


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


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: python3 -m zalk3071.report RESULTS RESIDUALS DIR")
    for p in draw(sys.argv[1], sys.argv[2], sys.argv[3]):
        print(p)
