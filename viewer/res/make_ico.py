#!/usr/bin/env python3
"""Writes the Windows icon file of Sorvu from its XPM pictures: one image per
XPM (here 32 x 32 and 16 x 16), 4 bits per pixel with a 16-colour table,
and the transparency mask the XPM's "None" colour gives.

    make_ico.py OUT.ico sorvu_32.xpm sorvu_16.xpm
"""
import re
import struct
import sys


def read_xpm(path):
    """Size, colours (character -> (r, g, b) or None) and rows of an XPM."""
    strings = re.findall(r'"((?:[^"\\]|\\.)*)"', open(path).read())
    width, height, ncolors, cpp = (int(v) for v in strings[0].split()[:4])
    if cpp != 1:
        raise SystemExit('%s: one character per pixel expected' % path)
    colours = {}
    for line in strings[1:1 + ncolors]:
        char, fields = line[0], line[1:].split()
        value = fields[fields.index('c') + 1]
        colours[char] = None if value.lower() == 'none' else tuple(
            int(value[i:i + 2], 16) for i in (1, 3, 5))
    rows = strings[1 + ncolors:1 + ncolors + height]
    if len(rows) != height or any(len(r) != width for r in rows):
        raise SystemExit('%s: the rows do not match the size' % path)
    return width, height, colours, rows


def icon_image(width, height, colours, rows):
    """The BITMAPINFOHEADER, colour table, XOR and AND bitmaps of one image."""
    table = sorted({c for c in colours.values() if c is not None})
    if len(table) > 15:
        raise SystemExit('more than 15 colours besides the transparent one')
    table = [(0, 0, 0)] + table          # index 0: black under the transparent pixels
    table += [(0, 0, 0)] * (16 - len(table))
    index = {c: table.index(c) for c in set(colours.values()) if c is not None}

    header = struct.pack('<IiiHHIIiiII', 40, width, 2 * height, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in table)
    xor_row = ((width * 4 + 31) // 32) * 4
    and_row = ((width + 31) // 32) * 4
    xor, mask = b'', b''
    for row in reversed(rows):           # bottom row first
        nibbles = [0 if colours[ch] is None else index[colours[ch]] for ch in row]
        packed = bytes((nibbles[i] << 4) | (nibbles[i + 1] if i + 1 < width else 0)
                       for i in range(0, width, 2))
        xor += packed.ljust(xor_row, b'\0')
        bits = 0
        for x, ch in enumerate(row):
            if colours[ch] is None:
                bits |= 1 << (and_row * 8 - 1 - x)
        mask += bits.to_bytes(and_row, 'big')
    return header + palette + xor + mask


def main():
    out, xpms = sys.argv[1], sys.argv[2:]
    images = []
    for path in xpms:
        width, height, colours, rows = read_xpm(path)
        images.append((width, height, icon_image(width, height, colours, rows)))
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, image in images:
        data += struct.pack('<BBBBHHII', width % 256, height % 256, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    data += b''.join(image for _, _, image in images)
    with open(out, 'wb') as f:
        f.write(data)


main()
