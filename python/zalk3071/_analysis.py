"""Layered elastic analysis."""
from __future__ import annotations

import warnings
from typing import TYPE_CHECKING, Any, Literal, Mapping

import numpy as np

from . import _zalk3071
from ._checks import real_matrix
from ._errors import warning_of

if TYPE_CHECKING:
    import pandas as pd
    from numpy.typing import ArrayLike

_TENSOR = ("xx", "yy", "zz", "xy", "yz", "xz")


class AnalysisResult:
    """Responses at the points, summed over the loads, one entry per point.

    Parameters
    ----------
    arrays : mapping
        The extension module's result arrays (made by :func:`analyse`).

    Attributes
    ----------
    w, u_x, u_y : numpy.ndarray
        Displacements (w positive downward), one per point.
    stress, strain : numpy.ndarray
        Shape (n, 6): xx, yy, zz, xy, yz, xz; tension positive, tensor shear
        strains.
    principal_stresses, principal_strains : numpy.ndarray
        Shape (n, 3), largest first.
    layer : numpy.ndarray
        The 1-based layer each point was taken in.
    warnings : list of dict
        The library's warnings (also issued as :class:`ZalkWarning`).
    """

    def __init__(self, arrays: Mapping[str, Any]) -> None:
        self.w: np.ndarray = arrays["w"]
        self.u_x: np.ndarray = arrays["u_x"]
        self.u_y: np.ndarray = arrays["u_y"]
        self.stress: np.ndarray = arrays["stress"]
        self.strain: np.ndarray = arrays["strain"]
        self.principal_stresses: np.ndarray = arrays["principal_stresses"]
        self.principal_strains: np.ndarray = arrays["principal_strains"]
        self.layer: np.ndarray = arrays["layer"]
        self.warnings: list[dict[str, Any]] = list(arrays["warnings"])

    def __len__(self) -> int:
        return len(self.w)

    def to_frame(self) -> pd.DataFrame:
        """Every component as a column of a DataFrame.

        Returns
        -------
        pandas.DataFrame
            One row per point: ``layer``, ``w``, ``u_x``, ``u_y``,
            ``stress_<xx..xz>``, ``strain_<xx..xz>``, ``principal_stress_<1..3>``
            and ``principal_strain_<1..3>``.
        """
        import pandas as pd

        cols = {"layer": self.layer, "w": self.w, "u_x": self.u_x, "u_y": self.u_y}
        for k, name in enumerate(_TENSOR):
            cols[f"stress_{name}"] = self.stress[:, k]
        for k, name in enumerate(_TENSOR):
            cols[f"strain_{name}"] = self.strain[:, k]
        for k in range(3):
            cols[f"principal_stress_{k + 1}"] = self.principal_stresses[:, k]
        for k in range(3):
            cols[f"principal_strain_{k + 1}"] = self.principal_strains[:, k]
        return pd.DataFrame(cols)


def analyse(layers: ArrayLike, loads: ArrayLike, points: ArrayLike, *,
            units: Literal["inch_psi", "si"] = "inch_psi", round_moduli_as_deck: bool = False,
            interface: Literal["below", "above"] = "below") -> AnalysisResult:
    """Analyses a layered structure under circular loads.

    Parameters
    ----------
    layers : array_like
        Shape (n, 3) or (n, 4): thickness, modulus, Poisson's ratio [, bond of
        the interface below (1 full friction, 0 frictionless)], top layer
        first; the last layer is semi-infinite (its thickness is not used).
        2 to 50 rows.
    loads : array_like
        Shape (m, 4): x, y, pressure, radius; 1 to 10 rows.
    points : array_like
        Shape (k, 3): x, y, depth below the surface; 1 to 1000 rows.
    units : {"inch_psi", "si"}
        Inches and psi, or metres and pascals.
    round_moduli_as_deck : bool
        Round the moduli to three digits as the legacy entry's analysis deck
        does (its results are then reproduced bit for bit).
    interface : {"below", "above"}
        The layer a point on an interface is taken in.

    Returns
    -------
    AnalysisResult
        The responses at the points.

    Raises
    ------
    TypeError
        An array is not of real numbers.
    ValueError
        An array has the wrong shape, no rows or a value that is not finite,
        or ``units`` or ``interface`` is not one of its choices.
    ZalkInputError
        The library refused a value (out of its range; the message names it).
    ZalkError
        The analysis failed.

    Warns
    -----
    ZalkWarning
        Each warning of the library (also in ``AnalysisResult.warnings``).
    """
    if units not in ("inch_psi", "si"):
        raise ValueError(f'units: "inch_psi" or "si" expected, got {units!r}')
    if interface not in ("below", "above"):
        raise ValueError(f'interface: "below" or "above" expected, got {interface!r}')
    layers = real_matrix("layers", layers, (3, 4))
    loads = real_matrix("loads", loads, (4,))
    points = real_matrix("points", points, (3,))
    arrays = _zalk3071.analyse(layers, loads, points, units == "si", bool(round_moduli_as_deck),
                               interface == "above")
    for record in arrays["warnings"]:
        warnings.warn(warning_of(record), stacklevel=2)
    return AnalysisResult(arrays)
