"""Pictures of ratings: basins, sections along their length, seasons.

Every function draws on a new matplotlib figure, saves it when ``path`` is
given (PNG by its extension) and returns the figure; the plotted data are
the values passed in, so that a figure can be checked against the results.
"""
from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Mapping, Sequence, Union

import numpy as np

from . import _zalk3071
from ._analysis import analyse
from ._rating import LEGACY_OFFSETS_IN, SEASONS

# The structure the rating analyses: surface, base and subgrade over a stiff
# layer, with the library's fixed Poisson's ratios, plate and pressure.
_MODEL = _zalk3071.RATING_MODEL
POISSON = _MODEL["poisson"]
STIFF_LAYER_MODULUS = _MODEL["stiff_layer_modulus_psi"]
LOAD_RADIUS_IN = _MODEL["plate_radius_in"]
PRESSURE_PER_LB = _MODEL["pressure_per_lb"]
SURFACE_CAP_IN = 12.0

if TYPE_CHECKING:
    import pandas as pd
    from matplotlib.figure import Figure
    from numpy.typing import ArrayLike

    from .survey import Segmentation

PathLike = Union[str, "os.PathLike[str]", None]


def _figure(nrows: int = 1, height: float = 4.0) -> tuple[Figure, Any]:
    import matplotlib

    matplotlib.use("Agg", force=False)
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(nrows, 1, figsize=(8, height * nrows), sharex=nrows > 1, squeeze=False)
    return fig, axes[:, 0]


def _finish(fig: Figure, path: PathLike) -> Figure:
    fig.tight_layout()
    if path is not None:
        fig.savefig(path, dpi=110)
    return fig


def computed_basin(result: Mapping[str, float], surface_in: float, base_in: float, load_lb: float,
                   offsets_in: Sequence[float] = LEGACY_OFFSETS_IN) -> np.ndarray:
    """Surface deflections of the rated structure under the test's load.

    Parameters
    ----------
    result : mapping
        A test's row of :meth:`Rater.rate` (its moduli and ``depth_in``).
    surface_in, base_in : float
        The section's surface and base thickness, inches.
    load_lb : float
        The test's load, lb.
    offsets_in : sequence of float
        Where to compute the deflections, inches from the load centre.

    Returns
    -------
    numpy.ndarray
        The deflections in mils, one per offset.
    """
    h1 = min(float(surface_in), SURFACE_CAP_IN)
    layers = [[h1, result["e_surface"], POISSON[0]], [base_in, result["e_base"], POISSON[1]],
              [result["depth_in"], result["e_subgrade"], POISSON[2]],
              [0.0, STIFF_LAYER_MODULUS, POISSON[3]]]
    pressure = load_lb * PRESSURE_PER_LB
    points = [[x, 0.0, 0.0] for x in offsets_in]
    return analyse(layers, [[0.0, 0.0, pressure, LOAD_RADIUS_IN]], points).w * 1000.0


def basin(measured_mils: ArrayLike, computed: Mapping[str, ArrayLike],
          offsets_in: Sequence[float] = LEGACY_OFFSETS_IN, title: str = "",
          path: PathLike = None) -> Figure:
    """Draws a measured basin against the computed one of each method.

    Parameters
    ----------
    measured_mils : array_like
        The measured deflections, mils, one per offset.
    computed : mapping of str to array_like
        Method name to its deflections in mils at ``offsets_in``.
    offsets_in : sequence of float
        The sensor offsets, inches.
    title : str
        The title (by default "deflection basin").
    path : str or os.PathLike, optional
        Where to save the figure (PNG by the extension).

    Returns
    -------
    matplotlib.figure.Figure
        The figure.
    """
    fig, (ax,) = _figure()
    ax.plot(offsets_in, measured_mils, "ko", label="measured", markersize=7)
    for name, values in computed.items():
        ax.plot(offsets_in, values, "-", marker=".", label=f"computed ({name})")
    ax.set_xlabel("offset from load centre (in)")
    ax.set_ylabel("deflection (mils)")
    ax.invert_yaxis()
    ax.grid(True, alpha=0.3)
    ax.legend()
    ax.set_title(title or "deflection basin")
    return _finish(fig, path)


def section(results: pd.DataFrame, section_id: Any, position: str | None = None,
            path: PathLike = None) -> Figure:
    """Draws the moduli, allowable load and depth to the stiff layer along a section.

    Parameters
    ----------
    results : pandas.DataFrame
        The results of :meth:`Rater.rate` (or of the rating tool).
    section_id : str
        The section to draw.
    position : str, optional
        A column to place the tests by (a station); by default the test number.
    path : str or os.PathLike, optional
        Where to save the figure (PNG by the extension).

    Returns
    -------
    matplotlib.figure.Figure
        The figure, three axes from top to bottom.
    """
    rows = results[results["section"].astype(str) == str(section_id)]
    x = rows[position].to_numpy() if position else rows["test"].to_numpy()
    fig, (top, middle, bottom) = _figure(3, height=2.8)
    for col, label in (("e_surface", "surface"), ("e_surface_72f", "surface at 72 F"),
                       ("e_base", "base"), ("e_subgrade", "subgrade")):
        top.plot(x, rows[col].to_numpy(), marker=".", label=label)
    top.set_yscale("log")
    top.set_ylabel("modulus (psi)")
    top.legend(fontsize="small", ncol=2)
    middle.plot(x, rows["allowable_load"].to_numpy(), "C3", marker=".")
    middle.set_ylabel("allowable load")
    bottom.step(x, rows["depth_in"].to_numpy(), "C2", where="mid")
    bottom.set_ylabel("depth to stiff layer (in)")
    bottom.set_xlabel(position or "test")
    for ax in (top, middle, bottom):
        ax.grid(True, alpha=0.3)
    top.set_title(f"section {section_id}")
    return _finish(fig, path)


def seasons(allowable_by_season: Sequence[float], title: str = "", path: PathLike = None) -> Figure:
    """Draws the allowable load of each season, a bar per season.

    Parameters
    ----------
    allowable_by_season : sequence of float
        Five values: fall, winter, spring 1, spring 2, summer.
    title : str
        The title (by default "allowable load by season").
    path : str or os.PathLike, optional
        Where to save the figure (PNG by the extension).

    Returns
    -------
    matplotlib.figure.Figure
        The figure.
    """
    fig, (ax,) = _figure()
    names = [s.replace("spring", "spring ") for s in SEASONS]
    ax.bar(names, allowable_by_season, color="C0")
    ax.set_xlabel("season")
    ax.set_ylabel("allowable load")
    ax.grid(True, axis="y", alpha=0.3)
    ax.set_title(title or "allowable load by season")
    return _finish(fig, path)


def survey_sections(stations: ArrayLike, values: ArrayLike, segmentation: Segmentation, label: str = "",
                    path: PathLike = None) -> Figure:
    """Draws a column along the stations with the sections found in it: each
    section's boundary as a vertical line and its mean as a level.

    Parameters
    ----------
    stations, values : array_like
        One per drop: its station and the column's value.
    segmentation : zalk3071.survey.Segmentation
        :func:`zalk3071.survey.segment` of them.
    label : str
        The column's name, for the axis and the legend (by default "value").
    path : str or os.PathLike, optional
        Where to save the figure (PNG by the extension).

    Returns
    -------
    matplotlib.figure.Figure
        The figure.
    """
    fig, (ax,) = _figure()
    ax.plot(np.asarray(stations, dtype=float), np.asarray(values, dtype=float), ".", color="C0",
            markersize=3, label=label or "value")
    units = segmentation.units
    for k, u in enumerate(units.itertuples()):
        ax.hlines(u.mean, u.station_from, u.station_to, colors="C3", linewidth=2,
                  label="section mean" if k == 0 else None)
        if k > 0:
            ax.axvline(u.station_from, color="0.4", linestyle="--", linewidth=0.8)
    ax.set_xlabel("station")
    ax.set_ylabel(label or "value")
    ax.grid(True, alpha=0.3)
    ax.legend()
    ax.set_title(f"{len(units)} homogeneous sections")
    return _finish(fig, path)
