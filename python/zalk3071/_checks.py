"""Argument checks made before any work, naming the argument and the problem."""
from __future__ import annotations

from typing import TYPE_CHECKING, Any, Sequence

import numpy as np

if TYPE_CHECKING:
    import pandas as pd


def _numbers(name: str, value: Any) -> np.ndarray:
    """``value`` as an array of real numbers (any shape)."""
    try:
        a = np.asarray(value)
    except Exception as e:  # ragged nested lists and the like
        raise TypeError(f"{name}: cannot be read as an array ({e})") from None
    if a.dtype == object or not (np.issubdtype(a.dtype, np.number) or a.dtype == bool):
        raise TypeError(f"{name}: numbers expected, got an array of {a.dtype}")
    if np.iscomplexobj(a):
        raise TypeError(f"{name}: real numbers expected, got complex values")
    return a


def real_matrix(name: str, value: Any, columns: Sequence[int]) -> np.ndarray:
    """A 2-D float64 array with one of the given column counts, all finite."""
    a = _numbers(name, value)
    if a.ndim == 1 and a.size in columns:
        a = a.reshape(1, -1)
    if a.ndim != 2 or a.shape[1] not in columns:
        want = " or ".join(str(c) for c in columns)
        raise ValueError(f"{name}: shape (n, {want}) expected, got {a.shape}")
    if a.shape[0] == 0:
        raise ValueError(f"{name}: no rows")
    a = np.ascontiguousarray(a, dtype=np.float64)
    bad = ~np.isfinite(a)
    if bad.any():
        row, col = np.argwhere(bad)[0]
        raise ValueError(f"{name}: row {row}, column {col} is {a[row, col]}, not a finite number")
    return a


def finite_values(name: str, value: Any, count: int) -> list[float]:
    """Exactly ``count`` finite numbers, as Python floats."""
    a = _numbers(name, value)
    if a.ndim != 1 or a.size != count:
        raise ValueError(f"{name}: {count} values expected, got shape {a.shape}")
    a = a.astype(np.float64)
    bad = np.flatnonzero(~np.isfinite(a))
    if bad.size:
        raise ValueError(f"{name}: value {bad[0]} is {a[bad[0]]}, not a finite number")
    return [float(v) for v in a]


def require_columns(name: str, frame: pd.DataFrame, columns: Sequence[str]) -> None:
    """Raises ValueError naming the columns of ``columns`` that ``frame`` lacks."""
    missing = [c for c in columns if c not in frame.columns]
    if missing:
        raise ValueError(f"{name}: missing column(s) {', '.join(missing)}")


def finite_columns(name: str, frame: pd.DataFrame, columns: Sequence[str]) -> np.ndarray:
    """The columns as one float64 matrix; non-numbers and NaN are named."""
    import pandas as pd

    out = np.empty((len(frame), len(columns)))
    for k, c in enumerate(columns):
        values = pd.to_numeric(frame[c], errors="coerce").to_numpy(dtype=np.float64)
        bad = ~np.isfinite(values)
        if bad.any():
            i = int(np.argmax(bad))
            raise ValueError(f"{name}: column {c} row {i} is {frame[c].iloc[i]!r}, not a finite number")
        out[:, k] = values
    return out
