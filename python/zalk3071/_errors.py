"""The library's errors and warnings as Python exceptions and warnings."""
from __future__ import annotations

import enum
from typing import Any, Mapping

from . import _zalk3071

#: The errors a program can branch on: one member per message of the library
#: (``Errc.other`` for an error of no message table), as ``zalk::Errc`` in C++.
#: Compare with the members and store their names: the values may change
#: between versions.
Errc = enum.IntEnum("Errc", _zalk3071.errc_names())  # type: ignore[misc]

# The public API checks every input before any work and raises its refusals
# from these routines; every other error (the analysis failing on its way,
# an unexpected failure) comes from somewhere else. The API's "call could not
# be completed" message shares the routines, so its code is set apart.
_INPUT_CHECK_ROUTINES = frozenset({"zalk::analyse", "zalk::Rater"})
_UNEXPECTED_FAILURE_CODE = 14


class ZalkError(Exception):
    """A call the library refused or could not complete.

    Parameters
    ----------
    text : str
        The message exactly as the library's reporter prints it (also
        ``str(error)``).
    routine : str
        The routine that raised it.
    code : int
        The error's number within that routine.
    type : int
        The reporter's error type: 4 fatal, 5 terminal.
    message : str
        The message alone, values filled in.
    errc : Errc
        The message raised, to branch on.

    See Also
    --------
    ZalkInputError : the refusals of bad input values, also ``ValueError``.
    """

    def __init__(self, text: str, routine: str = "", code: int = 0, type: int = 5,
                 message: str = "", errc: int = 0) -> None:
        super().__init__(text)
        self.text = text
        self.routine = routine
        self.code = code
        self.type = type
        self.message = message
        self.errc = Errc(errc)


class ZalkInputError(ZalkError, ValueError):
    """An input the library refused before any work: a value out of its range.

    Being a ``ValueError`` as well, it is caught by code that guards against
    bad values in general. Its attributes are those of :class:`ZalkError`.
    """


class ZalkWarning(UserWarning):
    """A warning of the library: the call worked, but something deserves a look.

    Issued with :func:`warnings.warn`, so the ``warnings`` module filters,
    records or turns it into an error as for any other warning.

    Parameters
    ----------
    text : str
        The warning exactly as the library's reporter prints it.
    routine : str
        The routine that raised it.
    code : int
        Its number within that routine.
    message : str
        The message alone, values filled in.
    """

    def __init__(self, text: str, routine: str = "", code: int = 0, message: str = "") -> None:
        super().__init__(text)
        self.text = text
        self.routine = routine
        self.code = code
        self.message = message


def is_input_refusal(routine: str, code: int) -> bool:
    """Whether the library's error ``routine``/``code`` refused an input value."""
    return routine in _INPUT_CHECK_ROUTINES and code != _UNEXPECTED_FAILURE_CODE


def make_error(text: str, routine: str, code: int, type: int, message: str, errc: int = 0) -> ZalkError:
    """The exception for an error of the library (the extension module raises it)."""
    cls = ZalkInputError if is_input_refusal(routine, code) else ZalkError
    return cls(text, routine, code, type, message, errc)


def warning_of(record: Mapping[str, Any]) -> ZalkWarning:
    """The :class:`ZalkWarning` of one of the library's warning records."""
    return ZalkWarning(record["text"], record["routine"], record["code"], record["message"])
