"""zalk3071: pavement structural analysis from Python.

Layered elastic analysis of pavement structures under circular loads
(:func:`analyse`), back-calculation of layer moduli from falling-weight
deflection basins, the allowable load of each test and the overlay
iteration (:class:`Rater`), with the library's own units: inches, psi, lb,
mils and degrees Fahrenheit.

    import zalk3071 as z
    r = z.analyse([[4, 500e3, .35], [8, 30e3, .4], [0, 10e3, .45]],
                  loads=[[0, 0, 100, 5.9]], points=[[0, 0, 0], [12, 0, 0]])
    r.w                    # vertical displacements, one per point
    r.to_frame()           # every component as a pandas DataFrame

    rater = z.Rater(table="backdefl.txt")
    results = rater.rate(z.read_sections("sections.csv"), z.read_tests("tests.csv"))

    drops = z.read_fwd("survey.f25")   # field files (F25, JILS) as DataFrames

Basin indices, the AASHTO 1993 NDT moduli and homogeneous sections of a
survey are in :mod:`zalk3071.survey`.

Errors of the library are raised as :class:`ZalkError` with the library's
message text, routine and code; the values it refuses as
:class:`ZalkInputError`, which is also a ``ValueError``. Arguments of the
wrong type, shape or with NaN raise TypeError or ValueError naming the
argument, before any work. The library's warnings are issued as
:class:`ZalkWarning` through :mod:`warnings`.
"""
from ._errors import Errc, ZalkError, ZalkInputError, ZalkWarning
from ._fwd import read_fwd
from ._analysis import AnalysisResult, analyse
from . import survey
from ._rating import (OVERLAY_COLUMNS, OVERLAY_RESULT_COLUMNS, RESULT_COLUMNS, SECTION_COLUMNS,
                      TEST_COLUMNS, FitSettings, Rater, back_calculate, read_overlay, read_sections,
                      read_tests)

__all__ = ["Errc", "ZalkError", "ZalkInputError", "ZalkWarning", "AnalysisResult", "analyse", "Rater",
           "FitSettings", "back_calculate", "read_sections", "read_tests", "read_overlay", "read_fwd",
           "SECTION_COLUMNS", "TEST_COLUMNS", "RESULT_COLUMNS", "OVERLAY_COLUMNS",
           "OVERLAY_RESULT_COLUMNS", "survey"]
