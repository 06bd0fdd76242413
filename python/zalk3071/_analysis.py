"""Layered elastic analysis."""
import numpy as np

from . import _zalk3071
from ._checks import real_matrix

_TENSOR = ("xx", "yy", "zz", "xy", "yz", "xz")


class AnalysisResult:
    """Responses at the points, summed over the loads, one entry per point.

    Attributes (numpy arrays): ``w``, ``u_x``, ``u_y`` (displacements, w
    positive downward), ``stress`` and ``strain`` (n x 6: xx, yy, zz, xy, yz,
    xz; tension positive, tensor shear strains), ``principal_stresses`` and
    ``principal_strains`` (n x 3, largest first), ``layer`` (1-based layer
    each point was taken in); ``warnings``: the library's warnings as dicts.
    """

    def __init__(self, arrays):
        self.w = arrays["w"]
        self.u_x = arrays["u_x"]
        self.u_y = arrays["u_y"]
        self.stress = arrays["stress"]
        self.strain = arrays["strain"]
        self.principal_stresses = arrays["principal_stresses"]
        self.principal_strains = arrays["principal_strains"]
        self.layer = arrays["layer"]
        self.warnings = list(arrays["warnings"])

    def __len__(self):
        return len(self.w)

    def to_frame(self):
        """Every component as a column of a pandas DataFrame, one row per point."""
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


def analyse(layers, loads, points, *, units="inch_psi", round_moduli_as_deck=False,
            interface="below"):
    """Analyses a layered structure under circular loads.

    layers: (n, 3) or (n, 4) rows of thickness, modulus, Poisson's ratio
        [, bond of the interface below (1 full friction)], top layer first; the
        last layer is semi-infinite (its thickness is not used). 2 to 50 rows.
    loads: (m, 4) rows of x, y, pressure, radius; 1 to 10 rows.
    points: (k, 3) rows of x, y, depth below the surface; 1 to 1000 rows.
    units: "inch_psi" (default) or "si" (metres and pascals).
    round_moduli_as_deck: round moduli to three digits as the legacy entry's
        analysis deck does (its results are then reproduced bit for bit).
    interface: "below" or "above": where a point on an interface is taken.
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
    return AnalysisResult(arrays)
