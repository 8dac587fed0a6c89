"""The Pillow plugin: opening and saving .vek pictures."""

import io

import numpy as np
import pytest
from PIL import Image

import vek
from conftest import PICTURES, read_bytes, suite_path


def test_registered():
    assert Image.registered_extensions()[".vek"] == "VEK"
    assert Image.MIME["VEK"] == "image/x-vek"


@pytest.mark.parametrize("bits, mode", [(8, "P"), (16, "RGB"), (24, "RGB"), (32, "RGB")])
def test_open_like_the_bmp_picture(bits, mode, tmp_path):
    bmp = Image.open(suite_path(PICTURES[bits]))
    path = tmp_path / "picture.vek"
    path.write_bytes(vek.encode(read_bytes(suite_path(PICTURES[bits]))))
    with Image.open(path) as im:
        assert (im.format, im.mode, im.size, im.info["bits"]) == ("VEK", mode, bmp.size, bits)
        if mode == "P":
            assert im.getpalette() == bmp.getpalette()
            assert im.tobytes() == bmp.tobytes()
        else:
            assert im.tobytes() == bmp.convert("RGB").tobytes()


def test_open_reads_the_header_only():
    good = vek.encode(read_bytes(suite_path(PICTURES[24])))
    damaged = good[:12] + bytes(len(good) - 12)
    im = Image.open(io.BytesIO(damaged))
    assert im.size == (127, 64)  # known without decoding
    with pytest.raises(vek.VekError) as caught:
        im.load()
    assert caught.value.code == 12
    with pytest.raises(Image.UnidentifiedImageError):
        Image.open(io.BytesIO(b"VEK!" + bytes(40)))  # a header the codec refuses


def _picture(mode):
    rng = np.random.default_rng(3)
    rgba = Image.fromarray(rng.integers(0, 256, (13, 9, 4), dtype=np.uint8), "RGBA")
    if mode == "P":
        return rgba.convert("RGB").quantize(200)
    if mode == "RGBA":
        return rgba
    return rgba.convert(mode)


@pytest.mark.parametrize("mode, opened_as, compared_as", [
    ("P", "P", "P"), ("L", "P", "L"), ("1", "P", "L"), ("RGB", "RGB", "RGB"),
    ("RGBA", "RGB", "RGB"), ("LA", "RGB", "RGB"), ("CMYK", "RGB", "RGB"), ("I", "RGB", "RGB"),
])
def test_save_every_mode(mode, opened_as, compared_as):
    im = _picture(mode)
    out = io.BytesIO()
    im.save(out, "VEK")
    with Image.open(io.BytesIO(out.getvalue())) as back:
        assert back.mode == opened_as and back.size == im.size
        assert back.convert(compared_as).tobytes() == im.convert(compared_as).tobytes()
        if mode == "P":
            assert back.getpalette()[: 3 * 200] == im.getpalette()[: 3 * 200]


def test_save_by_file_name(tmp_path):
    im = _picture("RGB")
    im.save(tmp_path / "x.vek")
    assert read_bytes(tmp_path / "x.vek")[:4] == b"VEK!"
    assert np.array_equal(vek.read(tmp_path / "x.vek"), np.asarray(im))


@pytest.mark.parametrize("entries", [0, 1.5, 320])
def test_colour_tables_of_any_size(entries):
    # No colours, a part entry, more than 8-bit indexes reach: all open.
    table = bytes(range(256)) * 5
    table = table[: int(entries * 4)]
    data = vek.encode(vek._picture.bmp_file(4, 2, 8, bytes([0, 1, 2, 3, 1, 1, 1, 1]), table))
    whole = min(int(entries), 256)
    with Image.open(io.BytesIO(data)) as im:
        assert len(im.getpalette()) == 3 * whole
        assert list(im.getdata()) == [1, 1, 1, 1, 0, 1, 2, 3]
    indexes, palette = vek.read(data)
    assert palette.shape == (whole, 3)
    assert vek.read(data, rgb=True)[1, 0].tolist() == (palette[0].tolist() if whole else [0, 0, 0])
