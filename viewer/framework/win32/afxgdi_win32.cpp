// Drawing services over GDI: logical palettes are the system's, selected
// into and realised in the system's device context, and StretchDIBits is
// the system's own, so the stretch mode set on the device context decides
// how pixels are dropped or repeated.
#include "afxgdi.h"

#include <cstring>
#include <new>

#include "afxsys.h"

HPALETTE CreatePalette(const LOGPALETTE *logPalette) {
    if (logPalette == nullptr || logPalette->palNumEntries == 0 ||
        logPalette->palPalEntry.size() < logPalette->palNumEntries)
        return nullptr;
    const WORD n = logPalette->palNumEntries;
    // The system's LOGPALETTE ends in an array of as many entries as it
    // declares.
    const size_t bytes = sizeof(WIN_LOGPALETTE) + (size_t(n) - 1) * sizeof(WIN_PALETTEENTRY);
    unsigned char *buffer = new (std::nothrow) unsigned char[bytes];
    if (buffer == nullptr) return nullptr;
    WIN_LOGPALETTE *system = reinterpret_cast<WIN_LOGPALETTE *>(buffer);
    system->palVersion = logPalette->palVersion;
    system->palNumEntries = n;
    for (WORD i = 0; i < n; ++i) {
        const PALETTEENTRY &e = logPalette->palPalEntry[i];
        system->palPalEntry[i].peRed = e.peRed;
        system->palPalEntry[i].peGreen = e.peGreen;
        system->palPalEntry[i].peBlue = e.peBlue;
        system->palPalEntry[i].peFlags = e.peFlags;
    }
    WIN_HPALETTE handle = ::CreatePalette(system);
    delete[] buffer;
    if (handle == nullptr) return nullptr;
    HPALETTE palette = new (std::nothrow) PaletteObject;
    if (palette == nullptr) {
        ::DeleteObject(handle);
        return nullptr;
    }
    try {
        palette->entries.assign(logPalette->palPalEntry.begin(), logPalette->palPalEntry.begin() + n);
    } catch (const std::bad_alloc &) {
        ::DeleteObject(handle);
        delete palette;
        return nullptr;
    }
    palette->system = handle;
    return palette;
}

BOOL DeleteObject(HPALETTE palette) {
    if (palette == nullptr) return FALSE;
    if (palette->system) ::DeleteObject(static_cast<WIN_HPALETTE>(palette->system));
    delete palette;
    return TRUE;
}

int CDC::SetStretchBltMode(int mode) {
    return ::SetStretchBltMode(m_hDC, mode);
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground) {
    if (dc == nullptr || dc->m_hDC == nullptr) return nullptr;
    WIN_HPALETTE system = palette ? static_cast<WIN_HPALETTE>(palette->system)
                                  : static_cast<WIN_HPALETTE>(dc->m_hOriginalPalette);
    if (system == nullptr) system = static_cast<WIN_HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    WIN_HPALETTE before = ::SelectPalette(dc->m_hDC, system, forceBackground);
    if (before == nullptr) return nullptr;
    if (dc->m_hOriginalPalette == nullptr && palette != nullptr) dc->m_hOriginalPalette = before;
    HPALETTE old = dc->m_hPalette;
    dc->m_hPalette = palette;
    return old;
}

UINT RealizePalette(HDC dc) {
    if (dc == nullptr || dc->m_hDC == nullptr) return 0;
    const UINT mapped = ::RealizePalette(dc->m_hDC);
    return mapped == GDI_ERROR ? 0 : mapped;
}

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void *bits, const BITMAPINFO *info, UINT usage,
                  DWORD rop) {
    if (dc == nullptr || dc->m_hDC == nullptr || bits == nullptr || info == nullptr) return 0;
    // The block's header and colour table are laid out as the system's
    // BITMAPINFO.
    static_assert(sizeof(BITMAPINFOHEADER) == sizeof(WIN_BITMAPINFOHEADER), "info header layouts differ");
    static_assert(sizeof(RGBQUAD) == sizeof(WIN_RGBQUAD), "colour table layouts differ");
    return ::StretchDIBits(dc->m_hDC, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight, bits,
                           reinterpret_cast<const WIN_BITMAPINFO *>(info), usage, rop);
}
