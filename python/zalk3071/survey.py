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
import numpy as np

from . import _zalk3071
from ._rating import LEGACY_OFFSETS_IN

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


def indices(deflections, loads, offsets=LEGACY_OFFSETS_IN, reference_load=None):
    """d0, SCI, BDI, BCI (mils) and AREA (in) of each drop, and with a
    reference load (lb) the same scaled to it (``*_norm``), as a DataFrame."""
    off, d, p = _drops(deflections, loads, offsets)
    ref = float("nan") if reference_load is None else float(reference_load)
    if reference_load is not None and not ref > 0:
        raise ValueError(f"reference_load: a load above 0 expected, got {reference_load!r}")
    cols = _zalk3071.survey_indices(off, d, p, ref)
    if reference_load is None:
        cols = {k: v for k, v in cols.items() if not k.endswith("_norm")}
    return _frame(cols)


def aashto93(deflections, loads, thickness, offsets=LEGACY_OFFSETS_IN, plate_radius=PLATE_RADIUS_IN,
             c=DESIGN_FACTOR):
    """M_R, the sensor it came from, E_p, a_e, SN_eff and C M_R of each drop
    by the AASHTO 1993 NDT method, as a DataFrame."""
    off, d, p = _drops(deflections, loads, offsets)
    t = _vector("thickness", thickness, d.shape[0])
    return _frame(_zalk3071.survey_aashto93(off, d, p, t, float(plate_radius), float(c)))


class Segmentation:
    """Homogeneous sections of a survey.

    stations: a DataFrame per station (station, value, width, z, first_drop,
    last_drop); units: one row per section (first_station, last_station,
    station_from, station_to, length, mean, n); drop_unit: each drop's
    section (-1 when left out); problems: (drop or None, message) pairs.
    """

    def __init__(self, raw):
        self.stations = _frame(raw["stations"])
        self.units = _frame(raw["units"])
        self.drop_unit = np.asarray(raw["drop_unit"])
        self.problems = list(raw["problems"])

    def statistics(self, column):
        """n, mean, sd, cv, p15 and p85 of a column (one value per drop) over
        each section's drops."""
        values = _vector("column", column, self.drop_unit.size)
        return _frame(_zalk3071.survey_unit_statistics(self.drop_unit, len(self.units), values))


def segment(stations, values, min_length=0.0):
    """Sections by cumulative differences of ``values`` along ``stations``
    (one each per drop, stations in survey order); sections shorter than
    ``min_length`` (station units) are merged into a neighbour."""
    x = _vector("stations", stations)
    v = _vector("values", values, x.size)
    return Segmentation(_zalk3071.survey_segment(x, v, float(min_length)))
