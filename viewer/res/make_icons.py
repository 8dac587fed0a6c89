#!/usr/bin/env python3
"""Draws Sorvu's program icon (a framed landscape under a magnifying glass)
at 32 x 32 and 16 x 16 pixels in 16 colours, and writes it as XPM (compiled
into the program) and PNG (installed for desktop menus).

Run from this folder: python3 make_icons.py
"""
import struct
import zlib

PALETTE = {  # key: (char, rgb)
    'none': (' ', None),
    'frame': ('#', (0x5a, 0x3a, 0x1e)),
    'frame_hi': ('+', (0xa0, 0x6e, 0x3c)),
    'sky': ('s', (0x7e, 0xc8, 0xf0)),
    'sky_hi': ('S', (0xb4, 0xe0, 0xf8)),
    'sun': ('o', (0xff, 0xd8, 0x20)),
    'hill': ('g', (0x3c, 0xa0, 0x3c)),
    'hill_dark': ('G', (0x20, 0x6e, 0x28)),
    'glass_rim': ('k', (0x20, 0x20, 0x28)),
    'glass': ('w', (0xe8, 0xf4, 0xff)),
    'handle': ('h', (0x80, 0x80, 0x88)),
}


def draw(size):
    s = size / 32.0
    px = [['none'] * size for _ in range(size)]
    # Picture frame with a landscape inside.
    for y in range(size):
        for x in range(size):
            fx, fy = x / s, y / s
            if 1 <= fx < 27 and 3 <= fy < 25:
                if fx < 3 or fx >= 25 or fy < 5 or fy >= 23:
                    px[y][x] = 'frame_hi' if (fx < 2 or fy < 4) else 'frame'
                else:
                    ridge = 17 - 3 * (1 - ((fx - 9) / 9) ** 2)
                    if fy >= ridge:
                        px[y][x] = 'hill_dark' if fy >= ridge + 3 else 'hill'
                    elif (fx - 19) ** 2 + (fy - 10) ** 2 <= 9:
                        px[y][x] = 'sun'
                    else:
                        px[y][x] = 'sky_hi' if fy < 9 else 'sky'
    # Magnifying glass over the lower right corner.
    cx, cy, r = 21, 20, 6.5
    for y in range(size):
        for x in range(size):
            fx, fy = (x + 0.5) / s, (y + 0.5) / s
            d2 = (fx - cx) ** 2 + (fy - cy) ** 2
            if d2 <= (r - 1.6) ** 2:
                if px[y][x] in ('none', 'frame', 'frame_hi'):
                    px[y][x] = 'glass'
            elif d2 <= r ** 2:
                px[y][x] = 'glass_rim'
            # Handle along the diagonal down to the corner.
            t = (fx - cx + fy - cy) / 2
            off = abs((fx - cx) - (fy - cy)) / 1.4142
            if r - 0.5 <= t * 1.4142 <= 15 and off <= 1.6:
                px[y][x] = 'handle' if off <= 0.9 else 'glass_rim'
    return px


def xpm(name, px):
    used = sorted({k for row in px for k in row}, key=lambda k: PALETTE[k][0])
    lines = ['/* XPM */', 'static const char *const %s[] = {' % name,
             '"%d %d %d 1",' % (len(px[0]), len(px), len(used))]
    for k in used:
        ch, rgb = PALETTE[k]
        lines.append('"%s c %s",' % (ch, 'None' if rgb is None else '#%02X%02X%02X' % rgb))
    for i, row in enumerate(px):
        lines.append('"%s"%s' % (''.join(PALETTE[k][0] for k in row), ',' if i + 1 < len(px) else ''))
    lines.append('};')
    return '\n'.join(lines) + '\n'


def png(px):
    h, w = len(px), len(px[0])
    raw = b''
    for row in px:
        raw += b'\0'
        for k in row:
            rgb = PALETTE[k][1]
            raw += bytes((0, 0, 0, 0)) if rgb is None else bytes(rgb + (255,))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)

    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


for size in (32, 16):
    picture = draw(size)
    with open('sorvu_%d.xpm' % size, 'w') as f:
        f.write(xpm('sorvu_%d_xpm' % size, picture))
    with open('sorvu_%d.png' % size, 'wb') as f:
        f.write(png(picture))
