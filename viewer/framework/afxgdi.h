// Drawing services: rectangles, device contexts with a stretch mode, logical
// palettes and the drawing of packed device-independent bitmaps.
//
// The device context CDC is the platform's (afxdc.h of framework/wx or
// framework/win32); the calls below are implemented once per platform.
#ifndef SORVU_FRAMEWORK_AFXGDI_H
#define SORVU_FRAMEWORK_AFXGDI_H

#include "afxtypes.h"
#include "vek/vek.h"

#include <vector>

struct CPoint {
    LONG x = 0;
    LONG y = 0;
    CPoint() = default;
    CPoint(LONG x_, LONG y_) : x(x_), y(y_) {}
};

struct CRect {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    CRect() = default;
    CRect(LONG l, LONG t, LONG r, LONG b) : left(l), top(t), right(r), bottom(b) {}
    LONG Width() const { return right - left; }
    LONG Height() const { return bottom - top; }
    bool operator==(const CRect &o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

// The intersection of a and b; an empty (0, 0, 0, 0) rectangle and FALSE when
// they do not overlap or either of them is empty.
BOOL IntersectRect(CRect *dst, const CRect *a, const CRect *b);
// TRUE when the rectangle has no area (right <= left or bottom <= top).
BOOL IsRectEmpty(const CRect *r);

#pragma pack(push, 1)
struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
// The head of a packed bitmap block; the colour table follows the header and
// is reached through a byte pointer, never by indexing bmiColors.
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
#pragma pack(pop)

const DWORD BI_RGB = 0;
const DWORD BI_RLE8 = 1;
const DWORD BI_RLE4 = 2;
const DWORD BI_BITFIELDS = 3;

const UINT DIB_RGB_COLORS = 0;
const UINT DIB_PAL_COLORS = 1;

const DWORD SRCCOPY = 0x00CC0020;

// Stretch modes.
const int BLACKONWHITE = 1;
const int WHITEONBLACK = 2;
const int COLORONCOLOR = 3;
const int HALFTONE = 4;

const BYTE PC_NOCOLLAPSE = 0x04;

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};

struct LOGPALETTE {
    WORD palVersion = 0x300;
    WORD palNumEntries = 0;
    std::vector<PALETTEENTRY> palPalEntry;
};

// A logical palette object; made by CreatePalette, released by DeleteObject.
struct PaletteObject {
    std::vector<PALETTEENTRY> entries;
    // The system's palette made from the entries, on platforms that have
    // palettes; owned by this object.
    void *system = nullptr;
};
typedef PaletteObject *HPALETTE;

HPALETTE CreatePalette(const LOGPALETTE *logPalette);
BOOL DeleteObject(HPALETTE palette);

#include "afxdc.h"

// Selects a palette into the device context and returns the one it replaces.
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
// Maps the selected palette's entries into the system palette; returns the
// number of entries mapped (0 where the screen has no palette).
UINT RealizePalette(HDC dc);

// Draws the source rectangle of a packed bitmap (xSrc, ySrc measured from the
// bitmap's first stored row, which is its bottom row when biHeight is
// positive) stretched to the destination rectangle. In the COLORONCOLOR
// mode each destination pixel takes the nearest source pixel (shrinking
// drops pixels, enlarging repeats them). Returns the number of source rows
// drawn from, 0 on failure.
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void *bits, const BITMAPINFO *info, UINT usage,
                  DWORD rop);

#endif
