"""Pictures between the codec's bytes, numpy arrays and BMP file bytes."""

import os
import struct

from . import _vek
from ._errors import VekError

HEADER_SIZE = 12
MAGIC = b"VEK!"
NOT_VEK = 11  # the library's failure code for bytes that are no .vek file


def header_fields(header):
    """(bit count, width, height) of the 12-byte header of a .vek file.

    The library checks the header; a refused one raises VekError.
    """
    header = bytes(header[:HEADER_SIZE])
    if len(header) < HEADER_SIZE or header[:4] != MAGIC:
        raise VekError(NOT_VEK, "the input is not a .vek file")
    _vek.decoded_size(header)
    bit_count, width, height = struct.unpack_from("<xBHH", header, 6)
    return bit_count, width, height


def row_bytes(width, bit_count):
    """Bytes of one pixel row in a BMP file: padded to a multiple of 4."""
    return (width * bit_count + 31) // 32 * 4


def colour_table(table):
    """The entries of a colour table that 8-bit indexes can reach: at most
    256 whole ones of 4 bytes (blue, green, red, unused)."""
    return table[: min(len(table) // 4, 256) * 4]


def _bytes_of(source):
    if isinstance(source, (str, os.PathLike)):
        with open(source, "rb") as f:
            return f.read()
    return source


def _widen5(values):
    # As Pillow widens 5-bit channels, so that read() and Image.open agree.
    return values * 255 // 31


def read(source, rgb=False):
    """The picture of a .vek file (a path, or its bytes) as numpy arrays.

    16, 24 and 32 bits per pixel: an array of height x width x 3 (red,
    green, blue; uint8, top row first). 16-bit pixels are 5-5-5, widened to
    8 bits as Pillow does; the fourth byte of 32-bit pixels is unused, as in BMP files.
    8 bits: a pair (indexes of height x width, palette of colours x 3), or
    with rgb=True the colours themselves (indexes past the palette black).
    """
    import numpy as np

    width, height, bit_count, table, rows = _vek.load(_bytes_of(source))
    stride = row_bytes(width, bit_count)
    image = np.frombuffer(rows, np.uint8).reshape(height, stride)[::-1]
    if bit_count == 8:
        indexes = np.ascontiguousarray(image[:, :width])
        palette = np.frombuffer(colour_table(table), np.uint8).reshape(-1, 4)[:, 2::-1].copy()
        if not rgb:
            return indexes, palette
        colours = np.zeros((256, 3), np.uint8)
        colours[: len(palette)] = palette
        return colours[indexes]
    if bit_count == 16:
        values = np.ascontiguousarray(image[:, : 2 * width]).view("<u2").astype(np.uint16)
        channels = [(values >> shift) & 0x1F for shift in (10, 5, 0)]
        return np.stack([_widen5(c) for c in channels], axis=-1).astype(np.uint8)
    size = bit_count // 8
    pixels = image[:, : width * size].reshape(height, width, size)
    return np.ascontiguousarray(pixels[:, :, 2::-1])


def bmp_file(width, height, bit_count, rows, table=b""):
    """A BMP file: 40-byte info header, colour table, bottom-up rows."""
    offset = 14 + 40 + len(table)
    colours = len(table) // 4
    return b"".join([
        struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset),
        struct.pack("<IiiHHIIiiII", 40, width, height, 1, bit_count, 0, len(rows), 0, 0, colours, 0),
        table,
        rows,
    ])


def bmp_of_array(array, palette=None):
    """BMP file bytes of an array: height x width x 3 (RGB) gives a 24-bit
    picture; height x width gives an 8-bit one with the given palette
    (colours x 3 RGB, at most 256) or, without one, grey levels."""
    import numpy as np

    array = np.asarray(array)
    if array.dtype != np.uint8:
        raise ValueError(f"pixels must be uint8, not {array.dtype}")
    if array.ndim == 3 and array.shape[2] == 3:
        height, width = array.shape[:2]
        stride = row_bytes(width, 24)
        rows = np.zeros((height, stride), np.uint8)
        rows[:, : width * 3] = array[::-1, :, ::-1].reshape(height, width * 3)
        return bmp_file(width, height, 24, rows.tobytes())
    if array.ndim == 2:
        height, width = array.shape
        if palette is None:
            palette = np.repeat(np.arange(256, dtype=np.uint8)[:, None], 3, axis=1)
        palette = np.asarray(palette, np.uint8).reshape(-1, 3)
        if not 1 <= len(palette) <= 256:
            raise ValueError(f"a palette has 1 to 256 colours, not {len(palette)}")
        table = np.zeros((len(palette), 4), np.uint8)
        table[:, :3] = palette[:, ::-1]
        stride = row_bytes(width, 8)
        rows = np.zeros((height, stride), np.uint8)
        rows[:, :width] = array[::-1]
        return bmp_file(width, height, 8, rows.tobytes(), table.tobytes())
    raise ValueError(f"pixels must be height x width or height x width x 3, not {array.shape}")


def write(destination, array, palette=None):
    """Encodes an array (see bmp_of_array) and writes the .vek file; with
    destination None, returns its bytes instead."""
    data = _vek.encode(bmp_of_array(array, palette))
    if destination is None:
        return data
    with open(destination, "wb") as f:
        f.write(data)
    return None
