"""What an engineer computes from a survey's drops beside back-calculation:
basin indices, the AASHTO 1993 NDT estimates of the subgrade and pavement
moduli, and homogeneous sections along the stations by cumulative
differences, with statistics per section. No engine run is needed.

    import zalk3071.survey as sv
    ix = sv.indices(deflections, loads, reference_load=9000)   # DataFrame, one row per drop
    nd = sv.aashto93(deflections, loads, thickness=14.0)
    seg = sv.segment(stations, ix["d0_mils"], min_length=500)
    seg.units                                # station_from, station_to, length, mean, n
    seg.statistics(nd["mr_psi"])             # mean, sd, cv, p15, p85 per section

deflections: mils, one row per drop and one column per sensor at
``offsets`` (inches, the table's six by default); loads in lb; thickness
(surface + base, inches) one for all drops or one per drop. A value that a
drop's basin cannot give is NaN, and the row's ``flags`` say why
(interpolated, bad_d0, mr_sensor_too_close, ...). The percentiles are linear
between order statistics (numpy's default definition).
"""
from __future__ import annotations

from typing import TYPE_CHECKING, Any, Mapping

import numpy as np

from . import _zalk3071
from ._rating import LEGACY_OFFSETS_IN

if TYPE_CHECKING:
    import pandas as pd
    from numpy.typing import ArrayLike

PLATE_RADIUS_IN = 5.9
DESIGN_FACTOR = 0.33


def _vector(name, value, n=None):
    a = np.ascontiguousarray(np.asarray(value, dtype=np.float64).reshape(-1))
    if n is not None and a.size == 1:
        a = np.full(n, a[0])
    if n is not None and a.size != n:
        raise ValueError(f"{name}: {n} values expected (one per drop), got {a.size}")
    return a


def _drops(deflections, loads, offsets):
    d = np.ascontiguousarray(np.asarray(deflections, dtype=np.float64))
    if d.ndim == 1:
        d = d.reshape(1, -1)
    off = _vector("offsets", offsets)
    if d.ndim != 2 or d.shape[1] != off.size:
        raise ValueError(f"deflections: shape (n, {off.size}) expected (one column per offset), got {d.shape}")
    return off, d, _vector("loads", loads, d.shape[0])


def _frame(columns):
    import pandas as pd

    return pd.DataFrame(columns)


def indices(deflections: ArrayLike, loads: ArrayLike, offsets: ArrayLike = LEGACY_OFFSETS_IN,
            reference_load: float | None = None) -> pd.DataFrame:
    """The basin indices of each drop.

    Parameters
    ----------
    deflections : array_like
        Mils, shape (n, k): one row per drop, one column per offset (a single
        drop may be one flat row).
    loads : array_like
        Each drop's load, lb (one value serves all drops).
    offsets : array_like
        The sensors' offsets, inches (the table's six by default). An offset
        an index needs without a sensor within 10 mm is read from the
        shape-preserving spline of the basin (flag ``interpolated``).
    reference_load : float, optional
        A load (lb) to scale the indices to, linearly.

    Returns
    -------
    pandas.DataFrame
        One row per drop: ``d0_mils``, ``sci_mils`` = D(0) - D(12),
        ``bdi_mils`` = D(12) - D(24), ``bci_mils`` = D(24) - D(36),
        ``area_in`` = 6 (1 + 2 D(12)/D(0) + 2 D(24)/D(0) + D(36)/D(0)), with
        a reference load the same scaled to it (``*_norm``), and ``flags``
        (what the basin could not give; such values are NaN).

    Raises
    ------
    ValueError
        Deflections not of one column per offset, loads not one per drop, or
        a reference load not above 0.
    """
    off, d, p = _drops(deflections, loads, offsets)
    ref = float("nan") if reference_load is None else float(reference_load)
    if reference_load is not None and not ref > 0:
        raise ValueError(f"reference_load: a load above 0 expected, got {reference_load!r}")
    cols = _zalk3071.survey_indices(off, d, p, ref)
    if reference_load is None:
        cols = {k: v for k, v in cols.items() if not k.endswith("_norm")}
    return _frame(cols)


def aashto93(deflections: ArrayLike, loads: ArrayLike, thickness: ArrayLike, offsets: ArrayLike = LEGACY_OFFSETS_IN,
             plate_radius: float = PLATE_RADIUS_IN, c: float = DESIGN_FACTOR) -> pd.DataFrame:
    """The subgrade and pavement moduli of each drop by the AASHTO 1993 NDT method.

    Parameters
    ----------
    deflections : array_like
        Mils, shape (n, k): one row per drop, one column per offset.
    loads : array_like
        Each drop's load P, lb (one value serves all drops).
    thickness : array_like
        The pavement's thickness D (surface + base), inches: one for all
        drops or one per drop.
    offsets : array_like
        The sensors' offsets, inches (the table's six by default).
    plate_radius : float
        The load plate's radius, inches.
    c : float
        The factor C of the design subgrade modulus C M_R.

    Returns
    -------
    pandas.DataFrame
        One row per drop: ``mr_psi`` = 0.24 P / (d_r r) from the innermost
        sensor with r >= 0.7 a_e (its offset ``mr_offset_in``; the outermost
        sensor and flag ``mr_sensor_too_close`` when none qualifies),
        ``ep_psi`` (the effective pavement modulus solved from D(0)),
        ``ae_in``, ``sneff`` = 0.0045 D E_p^(1/3), ``mr_design_psi`` = C M_R
        and ``flags``.

    Raises
    ------
    ValueError
        Deflections not of one column per offset, or loads or thicknesses
        not one (or one per drop).
    """
    off, d, p = _drops(deflections, loads, offsets)
    t = _vector("thickness", thickness, d.shape[0])
    return _frame(_zalk3071.survey_aashto93(off, d, p, t, float(plate_radius), float(c)))


class Segmentation:
    """Homogeneous sections of a survey, as :func:`segment` finds them.

    Parameters
    ----------
    raw : mapping
        The compiled module's answer: ``stations``, ``units``, ``drop_unit``
        and ``problems``.

    Attributes
    ----------
    stations : pandas.DataFrame
        One row per station: station, value, width, z, first_drop, last_drop.
    units : pandas.DataFrame
        One row per section: first_station, last_station, station_from,
        station_to, length, mean, n.
    drop_unit : numpy.ndarray
        Each drop's section (-1 when left out).
    problems : list
        (drop or None, message) pairs: what was left out and why.
    """

    stations: pd.DataFrame
    units: pd.DataFrame
    drop_unit: np.ndarray
    problems: list[Any]

    def __init__(self, raw: Mapping[str, Any]) -> None:
        self.stations = _frame(raw["stations"])
        self.units = _frame(raw["units"])
        self.drop_unit = np.asarray(raw["drop_unit"])
        self.problems = list(raw["problems"])

    def statistics(self, column: ArrayLike) -> pd.DataFrame:
        """Statistics of a column over each section's drops.

        Parameters
        ----------
        column : array_like
            One value per drop, in the order the sections were found from.

        Returns
        -------
        pandas.DataFrame
            One row per section: n, mean, sd, cv, p15 and p85 (percentiles
            linear between order statistics).

        Raises
        ------
        ValueError
            Not one value per drop.
        """
        values = _vector("column", column, self.drop_unit.size)
        return _frame(_zalk3071.survey_unit_statistics(self.drop_unit, len(self.units), values))


def segment(stations: ArrayLike, values: ArrayLike, min_length: float = 0.0) -> Segmentation:
    """Homogeneous sections by cumulative differences of a value along the stations.

    Parameters
    ----------
    stations : array_like
        Each drop's station, in survey order; a station lower than the one
        before it is left out (named in ``problems``).
    values : array_like
        The value to cut by, one per drop.
    min_length : float
        Sections shorter than this (station units) are merged into the
        neighbour of closer mean.

    Returns
    -------
    Segmentation
        The stations, the sections found and each drop's section.

    Raises
    ------
    ValueError
        Not one value per station.
    """
    x = _vector("stations", stations)
    v = _vector("values", values, x.size)
    return Segmentation(_zalk3071.survey_segment(x, v, float(min_length)))
