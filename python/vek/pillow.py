"""Pillow plugin: opens and saves .vek pictures (registered by `import vek`).

8-bit pictures open as mode "P" with their palette; 16-bit (5-5-5), 24-bit
and 32-bit ones as "RGB" (the fourth byte of 32-bit pixels is unused, as in
BMP files). Opening reads the 12-byte header only; the picture is decoded
when its pixels are first needed.

Saving writes "P" pictures as 8-bit, "1" and "L" as 8-bit grey levels and
every other mode Pillow can turn into "RGB" as 24-bit.
"""

from PIL import Image, ImageFile, ImagePalette

from . import _picture, _vek
from ._errors import VekError

# How the bottom-up rows of each bit count unpack into the picture's mode.
_RAW_MODES = {8: "P", 16: "BGR;15", 24: "BGR", 32: "BGRX"}


def _accept(prefix):
    return prefix[:4] == _picture.MAGIC


class VekImageFile(ImageFile.ImageFile):
    format = "VEK"
    format_description = "VEK lossless BMP picture"

    def _open(self):
        try:
            bit_count, width, height = _picture.header_fields(self.fp.read(_picture.HEADER_SIZE))
        except VekError as error:
            raise SyntaxError(str(error)) from error
        mode = "P" if bit_count == 8 else "RGB"
        if isinstance(getattr(type(self), "mode", None), property):
            self._mode = mode  # newer Pillow
        else:
            self.mode = mode
        self._size = (width, height)
        self.info["bits"] = bit_count
        self._rows = None
        # The rows are filled in by load(), which decodes the whole file.
        self.tile = [("vek", (0, 0, width, height), 0, None)]

    def load(self):
        if self.tile and self._rows is None:
            self.fp.seek(0)
            width, height, bit_count, table, self._rows = _vek.load(self.fp.read())
            if (width, height) != self.size or bit_count != self.info["bits"]:
                raise VekError(18, "the decoded picture does not match its header")
            if bit_count == 8:
                self.palette = ImagePalette.raw("BGRX", _picture.colour_table(table))
            stride = _picture.row_bytes(width, bit_count)
            self.tile = [("vek", (0, 0, width, height), 0, (self._rows, _RAW_MODES[bit_count], stride))]
        pixels = super().load()
        self._rows = None  # Pillow holds the picture now
        return pixels


class _RowsDecoder(ImageFile.PyDecoder):
    """Hands the rows that VekImageFile.load decoded to Pillow's raw unpacker."""

    _pulls_fd = True

    def decode(self, buffer):
        rows, raw_mode, stride = self.args
        self.set_as_raw(rows, (raw_mode, stride, -1))  # -1: bottom-up
        return -1, 0


def bmp_of_image(im):
    """BMP file bytes of a Pillow picture (see the module's text)."""
    if im.mode == "P":
        palette = bytes(im.getpalette()[: 3 * 256])
        table = bytearray(len(palette) // 3 * 4)
        table[0::4], table[1::4], table[2::4] = palette[2::3], palette[1::3], palette[0::3]
        return _bmp_8(im, bytes(table))
    if im.mode in ("1", "L"):
        table = bytearray(4 * 256)
        table[0::4] = table[1::4] = table[2::4] = bytes(range(256))
        return _bmp_8(im.convert("L"), bytes(table))
    if im.mode != "RGB":
        try:
            im = im.convert("RGB")
        except ValueError as error:
            raise OSError(f"cannot write mode {im.mode} as VEK") from error
    width, height = im.size
    stride = _picture.row_bytes(width, 24)
    return _picture.bmp_file(width, height, 24, im.tobytes("raw", ("BGR", stride, -1)))


def _bmp_8(im, table):
    width, height = im.size
    stride = _picture.row_bytes(width, 8)
    return _picture.bmp_file(width, height, 8, im.tobytes("raw", (im.mode, stride, -1)), table)


def _save(im, fp, filename):
    fp.write(_vek.encode(bmp_of_image(im)))


Image.register_open(VekImageFile.format, VekImageFile, _accept)
Image.register_save(VekImageFile.format, _save)
Image.register_extension(VekImageFile.format, ".vek")
Image.register_mime(VekImageFile.format, "image/x-vek")
Image.register_decoder("vek", _RowsDecoder)
