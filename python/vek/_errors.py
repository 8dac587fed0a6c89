"""The error every failed codec operation raises."""


class VekError(OSError):
    """A codec operation failed.

    ``code`` is the library's failure code (the VekFailureCode numbers of
    vek/vek.h: 4 not a BMP picture, 12 a damaged .vek file, ...) and
    ``text`` says why in plain words.
    """

    def __init__(self, code, text):
        super().__init__(f"{text} (code {code})")
        self.code = code
        self.text = text

    def __reduce__(self):
        # Pickled by its two fields, so that it crosses process boundaries
        # (local worker processes, cluster workers) intact.
        return (type(self), (self.code, self.text))
