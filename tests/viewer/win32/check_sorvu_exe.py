#!/usr/bin/env python3
"""Reads the import table and the resource section of Sorvu.exe back from
the file and compares them with what the program must carry: imports from
system DLLs only (everything else is linked in), and the menu, the
accelerator table and the icon under IDR_MAINFRAME (128), the About box
IDD_ABOUTBOX (100) as an extended dialog template, and the version
information, all in U.S. English.

    check_sorvu_exe.py Sorvu.exe

Prints every difference and exits 1 when there is one.
"""
import struct
import sys

LANG_EN_US = 0x0409
RT_ICON, RT_MENU, RT_DIALOG, RT_ACCELERATOR, RT_GROUP_ICON, RT_VERSION = 3, 4, 5, 9, 14, 16

ID_FILE_OPEN, ID_FILE_SAVE, ID_APP_ABOUT, ID_APP_EXIT = 0xE101, 0xE103, 0xE140, 0xE141
ID_VIEW_ZOOM50, ID_VIEW_ZOOM100, ID_VIEW_ZOOM200 = 32771, 32772, 32773
IDR_MAINFRAME, IDD_ABOUTBOX = 128, 100

failures = []


def expect(what, got, wanted):
    if got != wanted:
        failures.append('%s: %r, expected %r' % (what, got, wanted))


# ---------------------------------------------------------------- PE file

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'comdlg32.dll', 'shell32.dll', 'msvcrt.dll',
               'advapi32.dll', 'ntdll.dll'}


def read_pe(path):
    """(imported DLL names, {(type, id, language): bytes} of the resource
    directory) of a PE file."""
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        raise SystemExit('%s is not a PE file' % path)
    sections, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from('<H', data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    import_rva, _ = struct.unpack_from('<II', data, directories + 1 * 8)
    rsrc_rva, _ = struct.unpack_from('<II', data, directories + 2 * 8)
    table = optional + optional_size
    spans = []
    for i in range(sections):
        vsize, vaddr, rawsize, rawptr = struct.unpack_from('<IIII', data, table + 40 * i + 8)
        spans.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(rva):
        for vaddr, size, rawptr in spans:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + rawptr
        raise SystemExit('RVA %#x lies in no section' % rva)

    base = offset(rsrc_rva)
    found = {}

    def walk(at, path):
        named, ids = struct.unpack_from('<12xHH', data, at)
        for i in range(named + ids):
            name, target = struct.unpack_from('<II', data, at + 16 + 8 * i)
            key = ('name', name & 0x7FFFFFFF) if name & 0x80000000 else name
            if target & 0x80000000:
                walk(base + (target & 0x7FFFFFFF), path + [key])
            else:
                rva, size = struct.unpack_from('<II', data, base + target)
                found[tuple(path + [key])] = data[offset(rva):offset(rva) + size]

    walk(base, [])

    imports = []
    at = offset(import_rva)
    while True:
        name_rva = struct.unpack_from('<I', data, at + 12)[0]
        if name_rva == 0:
            break
        name = data[offset(name_rva):data.index(b'\0', offset(name_rva))].decode('ascii')
        imports.append(name.lower())
        at += 20
    return imports, found


def resource(found, kind, ident):
    """The resource's bytes in U.S. English, and the languages it has."""
    langs = sorted(k[2] for k in found if k[0] == kind and k[1] == ident)
    expect('languages of resource type %d id %d' % (kind, ident), langs, [LANG_EN_US])
    return found.get((kind, ident, LANG_EN_US))


def wstring(data, at):
    """A NUL-terminated UTF-16 string and the offset after it."""
    end = at
    while data[end:end + 2] != b'\0\0':
        end += 2
    return data[at:end].decode('utf-16-le'), end + 2


def sz_or_ord(data, at):
    first = struct.unpack_from('<H', data, at)[0]
    if first == 0xFFFF:
        return struct.unpack_from('<H', data, at + 2)[0], at + 4
    return wstring(data, at)


def align4(at):
    return (at + 3) & ~3


# ---------------------------------------------------------------- menu

def menu_items(data, at):
    """Items up to the one flagged MF_END: (text, id) or (text, [items])."""
    items = []
    while True:
        flags = struct.unpack_from('<H', data, at)[0]
        at += 2
        if flags & 0x10:                    # MF_POPUP
            text, at = wstring(data, at)
            children, at = menu_items(data, at)
            items.append((text, children))
        else:
            ident = struct.unpack_from('<H', data, at)[0]
            text, at = wstring(data, at + 2)
            items.append((text, ident) if text or ident else None)   # None: separator
        if flags & 0x80:                    # MF_END
            return items, at


def check_menu(data):
    version, header = struct.unpack_from('<HH', data, 0)
    expect('menu template version and header size', (version, header), (0, 0))
    items, _ = menu_items(data, 4 + header)
    expect('menu', items, [
        ('&File', [('&Open', ID_FILE_OPEN), ('&Save', ID_FILE_SAVE), None, ('E&xit', ID_APP_EXIT)]),
        ('&View', [('Zoom (&50%)', ID_VIEW_ZOOM50), ('Zoom (&100%)', ID_VIEW_ZOOM100),
                   ('Zoom (&200%)', ID_VIEW_ZOOM200)]),
        ('&Help', [('&About Sorvu...', ID_APP_ABOUT)]),
    ])


# ---------------------------------------------------------------- accelerators

def check_accelerators(data):
    FVIRTKEY, FNOINVERT, FCONTROL, LAST = 0x01, 0x02, 0x08, 0x80
    entries = [struct.unpack_from('<HHH2x', data, at) for at in range(0, len(data), 8)]
    wanted = [(FVIRTKEY | FNOINVERT | FCONTROL, ord('O'), ID_FILE_OPEN),
              (FVIRTKEY | FNOINVERT | FCONTROL | LAST, ord('S'), ID_FILE_SAVE)]
    expect('accelerator entries (flags, key, command)', entries, wanted)


# ---------------------------------------------------------------- icon

def check_icon(found, group):
    reserved, kind, count = struct.unpack_from('<HHH', group, 0)
    expect('icon group header', (reserved, kind), (0, 1))
    images = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, ident = struct.unpack_from('<BBBBHHIH', group, 6 + 14 * i)
        images.append((w, h, colours, planes, bits))
        image = found.get((RT_ICON, ident, LANG_EN_US))
        if image is None:
            failures.append('icon image %d of the group is missing' % ident)
            continue
        expect('size of icon image %d' % ident, len(image), size)
        bi_size, bi_w, bi_h, bi_planes, bi_bits, _, _, _, _, bi_used = struct.unpack_from('<IiiHHIIiiI', image, 0)
        expect('header of icon image %d (size, width, height, planes, bits)' % ident,
               (bi_size, bi_w, bi_h, bi_planes, bi_bits), (40, w, 2 * h, 1, 4))
        expect('colours of icon image %d' % ident, bi_used in (0, 16), True)
    expect('icon images (width, height, colours, planes, bits)', images,
           [(32, 32, 16, 1, 4), (16, 16, 16, 1, 4)])


# ---------------------------------------------------------------- About box

def check_dialog(data):
    version, signature, help_id, ex_style, style, count, x, y, cx, cy = struct.unpack_from('<HHIIIHhhhh', data, 0)
    expect('dialog template kind (version, signature)', (version, signature), (1, 0xFFFF))
    expect('dialog help id', help_id, 0)
    expect('dialog style', hex(style), hex(0x80C000C0))
    expect('dialog extended style', hex(ex_style), hex(0x80))
    expect('dialog position and size', (x, y, cx, cy), (0, 0, 159, 48))
    at = 26
    menu, at = sz_or_ord(data, at)
    cls, at = sz_or_ord(data, at)
    title, at = wstring(data, at)
    expect('dialog menu and class', (menu, cls), ('', ''))
    expect('dialog caption', title, 'About Sorvu')
    points, weight, italic, charset = struct.unpack_from('<HHBB', data, at)
    face, at = wstring(data, at + 6)
    expect('dialog font (points, weight, italic, character set, face)', (points, weight, italic, charset, face),
           (8, 400, 0, 1, 'MS Sans Serif'))
    controls = []
    for _ in range(count):
        at = align4(at)
        help_id, ex_style, style, x, y, cx, cy, ident = struct.unpack_from('<IIIhhhhi', data, at)
        at += 24
        cls, at = sz_or_ord(data, at)
        text, at = sz_or_ord(data, at)
        extra = struct.unpack_from('<H', data, at)[0]
        at += 2 + extra
        controls.append((cls, text, ident, (x, y, cx, cy), hex(style), ex_style, help_id))
    BUTTON, STATIC = 0x80, 0x82
    expect('dialog controls (class, text, id, place, style, extended style, help id)', controls, [
        (STATIC, IDR_MAINFRAME, -1, (5, 5, 21, 23), hex(0x50000003), 0, 0),
        (STATIC, 'VEK! reference code version 1.0', -1, (33, 2, 119, 20), hex(0x50020080), 0, 0),
        (STATIC, 'Lossless BMP compression', -1, (33, 22, 119, 10), hex(0x50020000), 0, 0),
        (BUTTON, 'OK', 1, (107, 32, 50, 14), hex(0x50030001), 0, 0),
    ])


# ---------------------------------------------------------------- version

def version_node(data, at):
    """(key, value bytes, children) of one version block."""
    length, value_length, kind = struct.unpack_from('<HHH', data, at)
    key, pos = wstring(data, at + 6)
    pos = align4(pos)
    size = value_length * 2 if kind == 1 else value_length
    value = data[pos:pos + size]
    pos = align4(pos + size)
    children = []
    while pos < at + length:
        child, pos = version_node(data, pos)
        children.append(child)
        pos = align4(pos)
    return (key, value, children), at + length


def check_version(data):
    (key, fixed, children), _ = version_node(data, 0)
    expect('version resource key', key, 'VS_VERSION_INFO')
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from('<IIIIII', fixed, 0)
    expect('fixed version signature', hex(signature), hex(0xFEEF04BD))
    expect('fixed file and product versions', (file_ms, file_ls, product_ms, product_ls),
           (0x00010000, 0, 0x00010000, 0))
    blocks = {c[0]: c for c in children}
    strings = {}
    for table in blocks.get('StringFileInfo', ('', b'', []))[2]:
        expect('string table', table[0], '040904B0')
        for name, value, _ in table[2]:
            strings[name] = value.decode('utf-16-le').rstrip('\0')
    expect('FileVersion string', strings.get('FileVersion'), '1, 0, 0, 0')
    expect('ProductVersion string', strings.get('ProductVersion'), '1, 0, 0, 0')
    translations = [(v[1][0:2], v[1][2:4]) for v in blocks.get('VarFileInfo', ('', b'', []))[2]
                    if v[0] == 'Translation']
    expect('translation (language, code page)',
           [tuple(struct.unpack('<H', p)[0] for p in t) for t in translations], [(0x0409, 1200)])


def main():
    imports, found = read_pe(sys.argv[1])
    for name in imports:
        if name not in SYSTEM_DLLS:
            failures.append('imports %s, which is not a system DLL' % name)
    expect('imports user32, gdi32, comdlg32 and shell32',
           {'user32.dll', 'gdi32.dll', 'comdlg32.dll', 'shell32.dll'} <= set(imports), True)
    checks = [(RT_MENU, IDR_MAINFRAME, check_menu), (RT_ACCELERATOR, IDR_MAINFRAME, check_accelerators),
              (RT_GROUP_ICON, IDR_MAINFRAME, lambda d: check_icon(found, d)),
              (RT_DIALOG, IDD_ABOUTBOX, check_dialog), (RT_VERSION, 1, check_version)]
    for kind, ident, check in checks:
        data = resource(found, kind, ident)
        if data is None:
            failures.append('resource type %d id %d is missing' % (kind, ident))
        else:
            check(data)
    for failure in failures:
        print(failure)
    if failures:
        return 1
    print('imports %s; menu, accelerators, icon, About box and version information as expected'
          % ', '.join(sorted(imports)))
    return 0


sys.exit(main())
