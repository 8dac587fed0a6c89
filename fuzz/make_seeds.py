#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets.

Small generated BMP pictures of every kind the encoder accepts (and a few it
refuses), and the .vek files the converter makes of them:

    fuzz/make_seeds.py <folder with vekconv and libvek.so> [fuzz/corpus]

The corpora are committed; run this again only to change them.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile


def bmp(width, height, bits, pixel, extra=b"", info_size=40, compression=0, top_down=False):
    """A BMP file whose pixel byte k of row y is pixel(k, y)."""
    row = (width * bits + 31) // 32 * 4
    rows = b"".join(bytes(pixel(k, y) & 0xFF for k in range(row)) for y in range(height))
    off = 54 + len(extra)
    file_header = struct.pack("<2sIHHI", b"BM", off + len(rows), 0, 0, off)
    info = struct.pack("<IiiHHIIiiII", info_size, width, -height if top_down else height, 1, bits,
                       compression, len(rows), 2835, 2835, 0, 0)
    return file_header + info + extra + rows


def grey_table(entries):
    return b"".join(bytes((i * 255 // max(entries - 1, 1),) * 3 + (0,)) for i in range(entries))


def pictures():
    noise_state = [12345]

    def noise(_k, _y):
        noise_state[0] = (noise_state[0] * 1103515245 + 12345) & 0x7FFFFFFF
        return noise_state[0] >> 16

    yield "pal8_2x2", bmp(2, 2, 8, lambda k, y: k + 2 * y, grey_table(256))
    yield "pal8_5x3_16colours", bmp(5, 3, 8, lambda k, y: (k * 3 + y) % 16, grey_table(16))
    yield "pal8_0x0", bmp(0, 0, 8, noise, grey_table(4))
    yield "pal8_64x40_noise", bmp(64, 40, 8, noise, grey_table(256))
    yield "pal8_33x9_runs", bmp(33, 9, 8, lambda k, y: 7 if k < 20 else y, grey_table(256))
    yield "rgb16_3x2", bmp(3, 2, 16, lambda k, y: k * 40 + y)
    yield "rgb24_1x1", bmp(1, 1, 24, lambda k, y: 0x80 + k if k < 3 else 0)
    yield "rgb24_7x5_gradient", bmp(7, 5, 24, lambda k, y: k * 11 + y * 17)
    yield "rgb24_40x30_flat", bmp(40, 30, 24, lambda k, y: 200 if (k // 3 + y) % 8 < 5 else 30)
    yield "rgb24_9x4_info52", bmp(9, 4, 24, lambda k, y: k ^ y, b"\x01" * 12, info_size=52)
    yield "rgb32_4x4", bmp(4, 4, 32, lambda k, y: (k * 5 + y * 3) if k % 4 != 3 else 255)
    yield "rgb32_100x30_noise", bmp(100, 30, 32, noise)
    # Refused by the header check; seeds for the paths that refuse.
    yield "refused_rle8", bmp(4, 4, 8, lambda k, y: 1, grey_table(256), compression=1)
    yield "refused_topdown", bmp(4, 4, 24, lambda k, y: k, top_down=True)
    yield "refused_pal4", bmp(8, 2, 4, lambda k, y: 0x12, grey_table(16))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    bin_dir = os.path.abspath(sys.argv[1])
    corpus = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "corpus")
    bmp_targets = ["fuzz_encode", "fuzz_roundtrip"]
    vek_targets = ["fuzz_decode_file", "fuzz_load_memory"]
    for target in bmp_targets + vek_targets:
        os.makedirs(os.path.join(corpus, target), exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        for name, data in pictures():
            for target in bmp_targets:
                with open(os.path.join(corpus, target, name + ".bmp"), "wb") as f:
                    f.write(data)
            source = os.path.join(scratch, name + ".bmp")
            with open(source, "wb") as f:
                f.write(data)
            coded = os.path.join(scratch, name + ".vek")
            done = subprocess.run([os.path.join(bin_dir, "vekconv"), "e", source, coded],
                                  stdout=subprocess.DEVNULL).returncode == 0
            if done:
                for target in vek_targets:
                    shutil.copyfile(coded, os.path.join(corpus, target, name + ".vek"))


if __name__ == "__main__":
    main()
