"""The library's errors as Python exceptions."""


class ZalkError(Exception):
    """A call the library refused or could not complete.

    ``str(error)`` is the message exactly as the library's reporter prints
    it; ``routine``, ``code`` and ``type`` (4 fatal, 5 terminal) identify it
    and ``message`` is the message alone.
    """

    def __init__(self, text, routine="", code=0, type=5, message=""):
        super().__init__(text)
        self.text = text
        self.routine = routine
        self.code = code
        self.type = type
        self.message = message
