"""VEK pictures from Python: the codec, numpy arrays and a Pillow plugin.

    vek.encode(bmp_bytes) -> .vek bytes
    vek.decode(vek_bytes) -> BMP bytes
    vek.read(path_or_bytes) -> numpy array (8-bit pictures: indexes, palette)
    vek.write(path, array, palette=None)

Importing the package registers the Pillow plugin (when Pillow is there):
Image.open("x.vek") and img.save("x.vek") then work. Every failed codec
operation raises VekError with the library's failure code and its text.
The codec works without the global interpreter lock, so threads convert in
parallel.
"""

from ._errors import VekError
from ._vek import decode, encode, library_version
from ._picture import read, write

__all__ = ["VekError", "decode", "encode", "library_version", "read", "write"]

try:
    import PIL  # noqa: F401
except ImportError:  # the codec and numpy functions work without Pillow
    pass
else:
    from . import pillow  # noqa: F401  (registers the plugin)
