"""The codec functions and numpy arrays."""

import threading
import time

import numpy as np
import pytest
from PIL import Image

import vek
from conftest import MORE_PICTURES, PICTURES, read_bytes, suite_path


@pytest.mark.parametrize("name", list(PICTURES.values()) + MORE_PICTURES)
def test_same_bytes_as_vekconv(name, vekconv):
    bmp = read_bytes(suite_path(name))
    vek_bytes = vekconv("e", bmp)
    assert vek.encode(bmp) == vek_bytes
    # Any buffer will do as input.
    assert vek.decode(bytearray(vek_bytes)) == vekconv("d", vek_bytes)


@pytest.mark.parametrize("bits", sorted(PICTURES))
def test_read_gives_the_pictures_pixels(bits, tmp_path):
    path = suite_path(PICTURES[bits])
    expected = np.asarray(Image.open(path).convert("RGB"))
    target = tmp_path / "picture.vek"
    target.write_bytes(vek.encode(read_bytes(path)))
    if bits == 8:
        indexes, palette = vek.read(str(target))
        assert indexes.shape == expected.shape[:2] and indexes.dtype == np.uint8
        assert palette.shape == (len(Image.open(path).getpalette()) // 3, 3)
        assert np.array_equal(palette[indexes], expected)
        assert np.array_equal(vek.read(target, rgb=True), expected)
    else:
        pixels = vek.read(target.read_bytes())
        assert pixels.shape == expected.shape and pixels.dtype == np.uint8
        assert np.array_equal(pixels, expected)


def test_write_then_read():
    rng = np.random.default_rng(1)
    rgb = rng.integers(0, 256, (7, 5, 3), dtype=np.uint8)  # rows of 15 bytes: padded
    assert np.array_equal(vek.read(vek.write(None, rgb)), rgb)
    indexes = rng.integers(0, 3, (3, 6), dtype=np.uint8)
    palette = np.array([[255, 0, 0], [0, 255, 0], [0, 0, 255]], np.uint8)
    got_indexes, got_palette = vek.read(vek.write(None, indexes, palette))
    assert np.array_equal(got_indexes, indexes) and np.array_equal(got_palette, palette)
    with pytest.raises(ValueError):
        vek.write(None, rgb.astype(np.float32))


def test_damaged_data_raise_the_codec_failure():
    bmp = read_bytes(suite_path(PICTURES[24]))
    good = vek.encode(bmp)
    flipped = bytearray(good)
    flipped[len(good) // 2] ^= 0x55
    cases = [
        (vek.decode, good[: len(good) - 40], 12),    # cut short
        (vek.decode, bytes(flipped), 12),            # a changed byte
        (vek.read, good[:20], 12),
        (vek.decode, b"VEK?" + good[4:], 11),        # no magic
        (vek.decode, b"", 11),
        (vek.encode, b"not a picture at all" * 4, 4),
        (vek.encode, read_bytes(suite_path("pal8rle.bmp")), 6),
        (vek.encode, read_bytes(suite_path("pal4.bmp")), 7),
        (vek.encode, bmp[:300], 10),                 # shorter than its headers say
    ]
    for operation, data, code in cases:
        with pytest.raises(vek.VekError) as caught:
            operation(data)
        assert caught.value.code == code, (operation, code)
        assert caught.value.text and str(caught.value.code) in str(caught.value)
    with pytest.raises(TypeError):
        vek.encode("a str is no buffer")


def test_threads_convert_in_parallel():
    rng = np.random.default_rng(2)
    base = rng.integers(0, 4, (600, 600, 3), dtype=np.uint8) * 60  # an encode takes a while
    bmps = [vek._picture.bmp_of_array(np.roll(base, i, axis=0)) for i in range(4)]
    expected = [vek.encode(b) for b in bmps]

    results = [None] * len(bmps)
    done = threading.Event()

    def work(i):
        results[i] = vek.encode(bmps[i])
        done.set()

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(bmps))]
    for t in threads:
        t.start()
    # This thread wakes from its sleeps while the codec works: it could not
    # (it would need the interpreter lock) if the codec held the lock.
    wakes = 0
    while not done.is_set():
        time.sleep(0.001)
        wakes += 1
    for t in threads:
        t.join()
    assert results == expected
    assert wakes >= 5
