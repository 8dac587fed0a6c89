#!/usr/bin/env python3
"""Sorvu.exe under wine, on the X server of DISPLAY (a headless Xvfb): the
program is started with pictures, driven through its menu commands and
dialogs by sorvu_probe.exe, and what it shows is read back from the X
server's screen.

    wine_viewer_test.py CASE BIN_DIR WINE_RUN

CASE is one of:
  show     pictures started from BMP and .vek files: the view's client area
           shows the picture's pixels at 100 %, at 200 % the pixels the
           Linux viewer paints (the same arithmetic as its drawing layer),
           and at 50 % the pixels the system's stretch keeps (see
           view_shows); the caption names the file
  save     File > Save converts a BMP file into a .vek file and that one
           back into a BMP file with the same pixels
  damaged  a damaged .vek file opened with File > Open gives the message
           box; after it the program still runs and shows its picture
  frame    the empty start: a 400 x 300 frame without sizing border and
           maximise box that accepts files; the About box with its texts,
           closed by its OK button; without VEK.DLL beside it, the message
           "File not found - VEK.DLL" and the end of the program
BIN_DIR holds Sorvu.exe, VEK.DLL, vekconv.exe and sorvu_probe.exe; WINE_RUN
runs a Windows program (WINEPREFIX chooses the prefix).
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

ID_FILE_OPEN, ID_FILE_SAVE, ID_APP_ABOUT, ID_APP_EXIT = 0xE101, 0xE103, 0xE140, 0xE141
ZOOM_COMMANDS = {50: 32771, 100: 32772, 200: 32773}
WS_MAXIMIZEBOX, WS_THICKFRAME, WS_EX_ACCEPTFILES = 0x10000, 0x40000, 0x10

CASE, BIN, WINE_RUN = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAILED:', what, flush=True)
    return ok


def windows_path(path):
    """The path as Windows programs under wine see it (drive Z: is /)."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


# ---------------------------------------------------------------- pictures

def write_bmp(path, width, height, bits, pixel):
    """A bottom-up BMP; pixel(x, y) gives the palette index (8 bits) or
    (r, g, b) (24 bits), y counted from the top."""
    row = (width * bits + 31) // 32 * 4
    table = b''
    if bits == 8:   # 256 distinct colours, none black or white
        table = b''.join(struct.pack('<BBBB', 40 + (i * 37) % 180, 40 + (i * 11) % 180, 40 + i % 180, 0)
                         for i in range(256))
    pixels = b''
    for y in reversed(range(height)):
        line = b''
        for x in range(width):
            p = pixel(x, y)
            line += bytes([p]) if bits == 8 else bytes([p[2], p[1], p[0]])
        pixels += line.ljust(row, b'\0')
    offset = 54 + len(table)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0, len(pixels), 0, 0, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + table + pixels)


def read_bmp(path):
    """Width, height and rows (top row first) of (r, g, b) of an 8- or
    24-bit bottom-up BMP file."""
    data = open(path, 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height, _, bits, _, _, _, _, used = struct.unpack_from('<iiHHIIiiI', data, 18)
    colours = used or (256 if bits == 8 else 0)
    table = [tuple(data[54 + 4 * i + k] for k in (2, 1, 0)) for i in range(colours)]
    row = (width * bits + 31) // 32 * 4
    rows = []
    for y in range(height):
        at = offset + (height - 1 - y) * row
        if bits == 8:
            rows.append([table[i] for i in data[at:at + width]])
        else:
            rows.append([(data[at + 3 * x + 2], data[at + 3 * x + 1], data[at + 3 * x]) for x in range(width)])
    return width, height, rows


def shrink_groups(source, destination):
    """The source pixels that fall on each destination pixel when the system
    shrinks a row or column: a line-drawing step spreads the source over the
    destination (error term 3 d - 2 s at the start, 2 d - 2 s or 2 d after
    each source pixel)."""
    groups = [[] for _ in range(destination)]
    err, d = 3 * destination - 2 * source, 0
    for s in range(source):
        groups[min(d, destination - 1)].append(s)
        if err > 0:
            d += 1
            err += 2 * destination - 2 * source
        else:
            err += 2 * destination
    return groups


def zoomed(width, height, rows, zoom):
    """The picture as both viewers paint it at the zoom: the client area is
    the zoomed size; enlarged, each destination pixel takes the source pixel
    d * source size / destination size; shrunk, each group of source pixels
    that shrink_groups gives shows its last column and its first row."""
    w, h = width * zoom // 100, height * zoom // 100
    if zoom < 100:
        columns = [g[-1] for g in shrink_groups(width, w)]
        lines = [g[0] for g in shrink_groups(height, h)]
    else:
        columns = [dx * width // w for dx in range(w)]
        lines = [dy * height // h for dy in range(h)]
    return w, h, [[rows[sy][sx] for sx in columns] for sy in lines]


def grab(x, y, w, h):
    """What the X server shows in a rectangle of the screen."""
    raw = subprocess.run(['import', '-silent', '-window', 'root', '-crop', '%dx%d+%d+%d' % (w, h, x, y),
                          '-depth', '8', 'rgb:-'], check=True, capture_output=True).stdout
    return [[tuple(raw[3 * (j * w + i):3 * (j * w + i) + 3]) for i in range(w)] for j in range(h)]


def same_pixels(what, shown, wanted):
    for y, (a, b) in enumerate(zip(shown, wanted)):
        if a != b:
            x = next(i for i in range(len(b)) if a[i] != b[i])
            return check(False, '%s: pixel %d,%d is %s, expected %s' % (what, x, y, a[x], b[x]))
    return True


# ---------------------------------------------------------------- wine

def run_windows(program, args, timeout):
    """Exit code and output lines of a Windows program under wine. The
    output goes through a file, not a pipe: the wine server and the other
    processes it starts keep a pipe open long after the program ends."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([WINE_RUN, os.path.join(BIN, program)] + [str(a) for a in args], stdout=out,
                              stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout).returncode
        out.seek(0)
        return code, out.read().decode('latin-1').replace('\r', '').splitlines()


def probe(*args, timeout=120):
    return run_windows('sorvu_probe.exe', args, timeout)


class Sorvu:
    """Sorvu.exe started with the arguments; ended by File > Exit."""

    def __init__(self, *args):
        self.process = subprocess.Popen([WINE_RUN, os.path.join(BIN, 'Sorvu.exe')] + list(args),
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def frame(self):
        """Caption, window and view rectangles and styles, once the frame
        shows `caption` (or at all)."""
        rc, lines = probe('frame', 30)
        if not check(rc == 0, 'the main frame appears'):
            return None
        info = {}
        for line in lines:
            key, _, rest = line.partition(' ')
            info[key] = rest if key == 'frame' else [int(v, 16) if key == 'style' else int(v) for v in rest.split()]
        return info

    def wait_frame(self, caption, seconds=30):
        end = time.time() + seconds
        while True:
            info = self.frame()
            if info is None or info['frame'] == caption or time.time() > end:
                return info
            time.sleep(0.2)

    def command(self, ident):
        rc, _ = probe('command', ident)
        return check(rc == 0, 'command %#x reaches the frame' % ident)

    def running(self):
        return self.process.poll() is None

    def exit(self):
        if self.running():
            self.command(ID_APP_EXIT)
        try:
            code = self.process.wait(timeout=30)
            check(code == 0, 'Sorvu.exe ends with exit code 0 after File > Exit (got %d)' % code)
        except subprocess.TimeoutExpired:
            self.process.kill()
            check(False, 'Sorvu.exe ends after File > Exit')


def view_shows(sorvu, what, width, height, rows, zoom):
    """The view's client area is the zoomed picture's size and shows exactly
    what the Linux viewer paints at that zoom."""
    info = sorvu.frame()
    if info is None:
        return False
    w, h, wanted = zoomed(width, height, rows, zoom)
    x, y, vw, vh = info['view']
    check((vw, vh) == (w, h), '%s at %d %%: view client area %dx%d, expected %dx%d' % (what, zoom, vw, vh, w, h))
    return same_pixels('%s at %d %%' % (what, zoom), grab(x, y, w, h), wanted)


def convert(*args):
    """vekconv.exe (the Windows converter) under wine."""
    code, lines = run_windows('vekconv.exe', args, 300)
    return check(code == 0, 'vekconv.exe %s: %s' % (' '.join(args), ' '.join(lines)))


# ---------------------------------------------------------------- cases

def make_pictures(folder):
    """Test pictures wide enough that the frame can fit them at 50 %: an
    8-bit one of even and a 24-bit one of odd size, plus two of the suite."""
    pal8 = os.path.join(folder, 'pal8-320x180.bmp')
    write_bmp(pal8, 320, 180, 8, lambda x, y: (x * 3 + y * 7 + (x * y) % 5) % 256)
    rgb24 = os.path.join(folder, 'rgb24-301x151.bmp')
    write_bmp(rgb24, 301, 151, 24, lambda x, y: (40 + (x * 3) % 200, 40 + (y * 5) % 200, 40 + ((x + y) * 7) % 200))
    return [pal8, rgb24]


def case_show(folder):
    suite = os.path.join(os.path.dirname(__file__), '..', '..', 'data', 'bmpsuite', 'g')
    for picture in make_pictures(folder) + [os.path.join(suite, 'pal8.bmp'), os.path.join(suite, 'rgb24.bmp')]:
        name = os.path.basename(picture)
        width, height, rows = read_bmp(picture)
        vek = os.path.join(folder, os.path.splitext(name)[0] + '.vek')
        if not convert('e', windows_path(picture), windows_path(vek)):
            continue
        for path in (picture, vek):
            shown = os.path.basename(path)
            sorvu = Sorvu(windows_path(path))
            info = sorvu.wait_frame(shown + ' - Sorvu')
            if info and check(info['frame'] == shown + ' - Sorvu', '%s: caption %r' % (shown, info['frame'])):
                view_shows(sorvu, shown, width, height, rows, 100)
                # At 50 % only where the frame can be that narrow.
                for zoom in ((50, 200, 100) if width >= 300 else (200, 100)):
                    sorvu.command(ZOOM_COMMANDS[zoom])
                    view_shows(sorvu, shown, width, height, rows, zoom)
            sorvu.exit()


def save_as(sorvu, target):
    """File > Save, answered with the target path in the save dialog."""
    sorvu.command(ID_FILE_SAVE)
    rc, lines = probe('dialog', 'Save As', 20)
    if not check(rc == 0, 'File > Save opens the save dialog'):
        return False
    rc, _ = probe('save', 'Save As', windows_path(target))
    check(rc == 0, 'the save dialog takes the file name')
    end = time.time() + 60
    while not os.path.exists(target) and time.time() < end:
        time.sleep(0.2)
    probe('gone', 'Save As', 20)
    return check(os.path.exists(target), 'File > Save writes %s' % os.path.basename(target))


def case_save(folder):
    bmp = make_pictures(folder)[0]
    vek = os.path.join(folder, 'saved.vek')
    back = os.path.join(folder, 'saved.bmp')
    check_bmp = os.path.join(folder, 'check.bmp')
    original = read_bmp(bmp)

    sorvu = Sorvu(windows_path(bmp))
    if sorvu.wait_frame(os.path.basename(bmp) + ' - Sorvu') and save_as(sorvu, vek):
        check(open(vek, 'rb').read(4) == b'VEK!', 'the saved file is a .vek file')
        # The converter gives the picture back from it.
        if convert('d', windows_path(vek), windows_path(check_bmp)):
            check(read_bmp(check_bmp) == original, 'the .vek file saved from the BMP file holds its picture')
    sorvu.exit()

    if os.path.exists(vek):
        sorvu = Sorvu(windows_path(vek))
        if sorvu.wait_frame('saved.vek - Sorvu') and save_as(sorvu, back):
            check(read_bmp(back) == original, 'the BMP file saved from the .vek file has the same pixels')
            check(open(back, 'rb').read() == open(bmp, 'rb').read(), 'and the same bytes as the original')
        sorvu.exit()


def case_damaged(folder):
    bmp = make_pictures(folder)[1]
    width, height, rows = read_bmp(bmp)
    vek = os.path.join(folder, 'good.vek')
    damaged = os.path.join(folder, 'damaged.vek')
    if not convert('e', windows_path(bmp), windows_path(vek)):
        return
    data = bytearray(open(vek, 'rb').read())
    # The header stays; the coded stream is cut short and its first bytes
    # changed.
    data = data[:len(data) // 2]
    for i in range(16, 48):
        data[i] ^= 0x5A
    open(damaged, 'wb').write(bytes(data))

    sorvu = Sorvu(windows_path(bmp))
    if sorvu.wait_frame(os.path.basename(bmp) + ' - Sorvu'):
        sorvu.command(ID_FILE_OPEN)
        rc, _ = probe('dialog', 'Open', 20)
        if check(rc == 0, 'File > Open opens the open dialog'):
            probe('save', 'Open', windows_path(damaged))
            rc, lines = probe('dialog', 'Sorvu', 60)
            if check(rc == 0, 'the damaged file gives a message box'):
                text = ' '.join(l for l in lines if l.startswith('control Static'))
                check('damaged.vek' in text and 'damaged' in text.replace('damaged.vek', ''),
                      'the message names the file and says it is damaged: %r' % text)
                probe('press', 'Sorvu', 1)
                check(probe('gone', 'Sorvu', 20)[0] == 0, 'OK closes the message box')
            time.sleep(0.5)
            check(sorvu.running(), 'the program keeps running after the damaged file')
            # Opened from the menu: the caption stays, the picture too.
            info = sorvu.wait_frame(os.path.basename(bmp) + ' - Sorvu', 5)
            check(info and info['frame'] == os.path.basename(bmp) + ' - Sorvu', 'the caption is unchanged')
            view_shows(sorvu, 'the picture after the damaged file', width, height, rows, 100)
    sorvu.exit()


def case_frame(folder):
    sorvu = Sorvu()
    info = sorvu.wait_frame('Untitled - Sorvu')
    if info:
        check(info['frame'] == 'Untitled - Sorvu', 'caption of the empty start: %r' % info['frame'])
        check(info['window'][2:] == [400, 300], 'the frame is first 400 x 300 pixels: %r' % info['window'][2:])
        style, ex_style = info['style']
        check(not style & WS_MAXIMIZEBOX and not style & WS_THICKFRAME, 'no maximise box, no sizing border')
        check(ex_style & WS_EX_ACCEPTFILES, 'the frame accepts dropped files')

        sorvu.command(ID_APP_ABOUT)
        rc, lines = probe('dialog', 'About Sorvu', 20)
        if check(rc == 0, 'Help > About opens the About box'):
            texts = [l.split(' ', 3)[3] for l in lines if l.startswith('control Static') and len(l.split(' ', 3)) > 3]
            check('VEK! reference code version 1.0' in texts, 'the About box shows its texts: %r' % texts)
            extents = [l.split(' ', 5) for l in lines if l.startswith('extent ')]
            check(len(extents) == 2 and all(int(e[1]) <= int(e[3]) and int(e[2]) <= int(e[4]) for e in extents),
                  'every text of the About box fits its control: %r' % extents)
            probe('press', 'About Sorvu', 1)
            check(probe('gone', 'About Sorvu', 20)[0] == 0, 'OK closes the About box')
        check(sorvu.running(), 'the program runs on after the About box')
    sorvu.exit()

    # Without VEK.DLL beside it the program says so and ends.
    alone = os.path.join(folder, 'alone')
    os.mkdir(alone)
    shutil.copy(os.path.join(BIN, 'Sorvu.exe'), alone)
    lonely = subprocess.Popen([WINE_RUN, os.path.join(alone, 'Sorvu.exe')], cwd=alone, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rc, lines = probe('dialog', 'Sorvu', 60)
    if check(rc == 0, 'a message box without VEK.DLL'):
        check(any(l.endswith(' File not found - VEK.DLL') for l in lines),
              'it says "File not found - VEK.DLL": %r' % lines)
        probe('press', 'Sorvu', 1)
    try:
        lonely.wait(timeout=30)
    except subprocess.TimeoutExpired:
        lonely.kill()
        check(False, 'the program ends after the message box')


def main():
    cases = {'show': case_show, 'save': case_save, 'damaged': case_damaged, 'frame': case_frame}
    with tempfile.TemporaryDirectory(prefix='sorvu-wine-') as folder:
        cases[CASE](folder)
    if failures:
        print('%d failure(s)' % len(failures))
        return 1
    print('%s: as expected' % CASE)
    return 0


sys.exit(main())
