// Drawing services over wxWidgets.
#include "afxgdi.h"

#include <wx/bitmap.h>
#include <wx/dc.h>
#include <wx/image.h>

#include <algorithm>
#include <cstdlib>
#include <new>

HPALETTE CreatePalette(const LOGPALETTE *logPalette) {
    if (logPalette == nullptr || logPalette->palPalEntry.size() < logPalette->palNumEntries) return nullptr;
    HPALETTE palette = new (std::nothrow) PaletteObject;
    if (palette == nullptr) return nullptr;
    try {
        palette->entries.assign(logPalette->palPalEntry.begin(),
                                logPalette->palPalEntry.begin() + logPalette->palNumEntries);
    } catch (const std::bad_alloc &) {
        delete palette;
        return nullptr;
    }
    return palette;
}

BOOL DeleteObject(HPALETTE palette) {
    if (palette == nullptr) return FALSE;
    delete palette;
    return TRUE;
}

int CDC::SetStretchBltMode(int mode) {
    if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
    int old = m_nStretchMode;
    m_nStretchMode = mode;
    return old;
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground) {
    if (dc == nullptr) return nullptr;
    HPALETTE old = dc->m_hPalette;
    dc->m_hPalette = palette;
    dc->m_bPaletteBackground = forceBackground != FALSE;
    return old;
}

UINT RealizePalette(HDC dc) {
    (void)dc;
    return 0;
}

namespace {

// Source offset shown at destination offset d when n source units are spread
// over m destination units. Enlarging (n <= m) repeats the unit whose span
// contains d's left edge. Shrinking (n > m) drops units the way the system's
// COLORONCOLOR stretch does: a line-drawing step splits the source into runs
// of n / m units (unit s joins run (2 m s + m - 1) / (2 n)), and each run
// shows its last unit across and its first unit down the screen, so a picture
// shrunk here looks the same as on Windows.
inline int64_t columnSource(int64_t d, int64_t n, int64_t m) {
    return n > m ? (2 * n * (d + 1) + m) / (2 * m) - 1 : d * n / m;
}

inline int64_t rowSource(int64_t d, int64_t n, int64_t m) {
    return n > m ? (2 * n * d + m) / (2 * m) : d * n / m;
}

} // namespace

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void *bits, const BITMAPINFO *info, UINT usage,
                  DWORD rop) {
    if (dc == nullptr || dc->GetWxDC() == nullptr || bits == nullptr || info == nullptr) return 0;
    if (usage != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
    const BITMAPINFOHEADER &h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB) return 0;
    if (h.biBitCount != 8 && h.biBitCount != 24) return 0;
    if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
    if (h.biWidth <= 0 || h.biHeight == 0) return 0;

    const int64_t width = h.biWidth;
    const bool bottomUp = h.biHeight > 0;
    const int64_t height = bottomUp ? int64_t(h.biHeight) : -int64_t(h.biHeight);
    const int64_t rowBytes = (width * h.biBitCount + 31) / 32 * 4;
    const uint32_t tableSize = h.biClrUsed != 0 ? h.biClrUsed : (h.biBitCount <= 8 ? 1u << h.biBitCount : 0u);
    const BYTE *table = reinterpret_cast<const BYTE *>(info) + h.biSize;
    const BYTE *pixels = static_cast<const BYTE *>(bits);

    // Only the part of the destination that lies on the device is built.
    wxDC &wdc = *dc->GetWxDC();
    const wxSize devSize = wdc.GetSize();
    const int64_t vx0 = std::max<int64_t>(xDest, 0);
    const int64_t vy0 = std::max<int64_t>(yDest, 0);
    const int64_t vx1 = std::min<int64_t>(int64_t(xDest) + destWidth, devSize.x);
    const int64_t vy1 = std::min<int64_t>(int64_t(yDest) + destHeight, devSize.y);

    // Source column and stored row of each destination column and row; -1
    // where the source lies outside the bitmap (nothing is drawn there).
    auto columnOf = [&](int64_t dx) -> int64_t {
        int64_t sx = xSrc + columnSource(dx - xDest, srcWidth, destWidth);
        return sx >= 0 && sx < width ? sx : -1;
    };
    auto rowOf = [&](int64_t dy) -> int64_t {
        // Row k of the destination shows the k-th source row counted from the
        // top of the source rectangle. ySrc counts from the bitmap's first
        // stored row: the bottom row of a bottom-up picture.
        int64_t k = rowSource(dy - yDest, srcHeight, destHeight);
        int64_t stored = bottomUp ? int64_t(ySrc) + srcHeight - 1 - k : int64_t(ySrc) + k;
        return stored >= 0 && stored < height ? stored : -1;
    };

    // The mapping is monotonic, so the drawable part is one rectangle.
    int64_t x0 = vx0, x1 = vx1, y0 = vy0, y1 = vy1;
    while (x0 < x1 && columnOf(x0) < 0) ++x0;
    while (x1 > x0 && columnOf(x1 - 1) < 0) --x1;
    while (y0 < y1 && rowOf(y0) < 0) ++y0;
    while (y1 > y0 && rowOf(y1 - 1) < 0) --y1;
    if (x0 >= x1 || y0 >= y1) return srcHeight;

    const int outW = int(x1 - x0), outH = int(y1 - y0);
    wxImage image(outW, outH, false);
    if (!image.IsOk()) return 0;
    unsigned char *out = image.GetData();

    std::vector<int64_t> columns(outW);
    for (int i = 0; i < outW; ++i) columns[i] = columnOf(x0 + i);

    for (int j = 0; j < outH; ++j) {
        const BYTE *row = pixels + rowOf(y0 + j) * rowBytes;
        unsigned char *o = out + size_t(j) * outW * 3;
        for (int i = 0; i < outW; ++i, o += 3) {
            const int64_t sx = columns[i];
            if (h.biBitCount == 24) {
                const BYTE *p = row + sx * 3;
                o[0] = p[2];
                o[1] = p[1];
                o[2] = p[0];
            } else {
                const uint32_t index = row[sx];
                if (index < tableSize) {
                    const BYTE *q = table + size_t(index) * 4;
                    o[0] = q[2];
                    o[1] = q[1];
                    o[2] = q[0];
                } else {
                    o[0] = o[1] = o[2] = 0;
                }
            }
        }
    }
    wdc.DrawBitmap(wxBitmap(image), wxCoord(x0), wxCoord(y0), false);
    return srcHeight;
}
