"""Field files of deflection surveys (F25, JILS) as DataFrames of drops."""
from __future__ import annotations

import os
from typing import TYPE_CHECKING, Sequence, Union

import numpy as np

from . import _zalk3071

if TYPE_CHECKING:
    import pandas as pd

PathLike = Union[str, "os.PathLike[str]"]
SensorOffsets = Union[str, Sequence[float], None]


def _offsets_mm(sensor_offsets: SensorOffsets) -> list[float]:
    """None, a list with its unit ("0,8,12in", "0,200,300mm") or numbers in mm."""
    if sensor_offsets is None:
        return []
    if isinstance(sensor_offsets, str):
        return _zalk3071.parse_sensor_offsets(sensor_offsets)
    try:
        offsets = np.asarray(sensor_offsets, dtype=np.float64)
    except (TypeError, ValueError):
        raise TypeError("sensor_offsets: a list such as \"0,8,12in\" or numbers in mm expected") from None
    if offsets.ndim != 1 or not np.all(np.isfinite(offsets)):
        raise ValueError("sensor_offsets: a flat list of finite numbers (mm) expected")
    if np.any(np.diff(offsets) <= 0):
        raise ValueError(f"sensor_offsets: not increasing: {offsets.tolist()}")
    return offsets.tolist()


def read_fwd(path: PathLike, sensor_offsets: SensorOffsets = None) -> pd.DataFrame:
    """Reads a falling-weight field file, F25 or JILS (told by content).

    Parameters
    ----------
    path : str or os.PathLike
        The field file.
    sensor_offsets : str or sequence of float, optional
        Where the sensors of a JILS file stand (the file does not say), sensor
        k at the k-th offset: a list ending in its unit
        (``"0,8,12,18,24,36,48,60,72in"``, the default, or ``"...mm"``; at
        most 18, increasing) or numbers in mm. F25 files give their own.

    Returns
    -------
    pandas.DataFrame
        One row per drop: line, station, lane, drop, date and time (year ...
        second, and ``time``), latitude, longitude, temperatures in °F,
        load_lb, stress_kpa, implausible (the basin is flagged), offsets_mm
        and deflections_um (tuples, by increasing offset; a negative offset is
        a sensor behind the plate), and more. ``attrs`` hold the file's
        format, metadata (header lines: operator, roadway, ...), its
        diagnostics (file, line, column, message), every rejected drop line
        and a summary. A file of neither format, or one that cannot be read,
        gives no rows and a diagnostic.

    Raises
    ------
    TypeError
        ``path`` is not a path, or ``sensor_offsets`` neither a list text nor
        numbers.
    ValueError
        ``sensor_offsets`` that are not finite and increasing, or a list text
        that cannot be read (the message names the problem).
    """
    import pandas as pd

    if not isinstance(path, (str, os.PathLike)):
        raise TypeError(f"path: a file path expected, got {type(path).__name__}")
    f = _zalk3071.read_field_file(os.fspath(path), _offsets_mm(sensor_offsets))
    frame = pd.DataFrame(f["drops"])
    optional = ["latitude", "longitude", "surface_temp_f", "air_temp_f", "asphalt_temp_f"]
    frame[optional] = frame[optional].astype(np.float64)  # None: NaN
    dates = frame[["year", "month", "day", "hour", "minute", "second"]]
    frame.insert(7, "time", pd.to_datetime(dates, errors="coerce"))
    frame.attrs.update({
        "file": f["file"], "format": f["format"], "read": f["read"],
        "metadata": dict(reversed(f["metadata"])), "metadata_lines": f["metadata"],
        "diagnostics": f["diagnostics"], "rejected_lines": f["rejected_lines"], "summary": f["summary"]})
    return frame
