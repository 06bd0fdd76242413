"""Compiled core of zalk3071: thin wrappers of the C++ API over numpy arrays.

Use the zalk3071 package, not this module: it checks the arguments' types,
shapes and finiteness before calling here, and turns the returned records
into frames, exceptions and warnings.
"""
from os import PathLike
from typing import Any, Sequence, TypedDict

import numpy as np
import numpy.typing as npt

_Floats = npt.NDArray[np.float64]

class _ErrorRecord(TypedDict):
    routine: str
    code: int
    type: int
    message: str
    text: str
    errc: int

class _AnalysisArrays(TypedDict):
    w: _Floats
    u_x: _Floats
    u_y: _Floats
    stress: _Floats
    strain: _Floats
    principal_stresses: _Floats
    principal_strains: _Floats
    layer: npt.NDArray[np.int32]
    warnings: list[_ErrorRecord]

class _FitDefaults(TypedDict):
    depth: str
    refined_depths: int
    lower: tuple[float, float, float]
    upper: tuple[float, float, float]
    noise_mils: float
    noise_relative: float
    min_depth_in: float

__version__: str
# The structure every rating analyses (zalk::kRatingModel): poisson,
# stiff_layer_modulus_psi, plate_radius_in, reference_load_lb,
# reference_pressure_psi, pressure_per_lb, sensor_offsets_in.
RATING_MODEL: dict[str, Any]

def analyse(layers: _Floats, loads: _Floats, points: _Floats, si: bool, round_moduli_as_deck: bool,
            interface_above: bool) -> _AnalysisArrays: ...
def fit_defaults() -> _FitDefaults: ...
def errc_names() -> list[tuple[str, int]]: ...
def read_field_file(path: str | PathLike[str], offsets_mm: Sequence[float]) -> dict[str, Any]: ...
def parse_sensor_offsets(list: str) -> list[float]: ...
def survey_indices(offsets: _Floats, deflections: _Floats, loads: _Floats,
                   reference_load: float) -> dict[str, Any]: ...
def survey_aashto93(offsets: _Floats, deflections: _Floats, loads: _Floats, thickness: _Floats,
                    plate_radius: float, design_factor: float) -> dict[str, Any]: ...
def survey_segment(stations: _Floats, values: _Floats, min_length: float) -> dict[str, Any]: ...
def survey_unit_statistics(drop_unit: npt.NDArray[np.int64], units: int, column: _Floats) -> dict[str, Any]: ...

class Rater:
    def __init__(self, table: str | PathLike[str]) -> None: ...
    def rate(self, section: _Floats, values: _Floats, offsets: _Floats, deflections: _Floats,
             method: str, depth: str, refined_depths: int, lower: Sequence[float],
             upper: Sequence[float], noise_mils: float, noise_relative: float,
             min_depth_in: float) -> dict[str, Any]: ...
    def overlay(self, sections: _Floats, values: _Floats, offsets: _Floats, deflections: _Floats,
                items: _Floats, dh_in: float) -> dict[str, Any]: ...
