// The viewer's picture: a packed device-independent bitmap (info header,
// colour table, pixel rows bottom row first) in one block, as the drawing
// code takes it directly.
#ifndef SORVU_DIB_IMAGE_H
#define SORVU_DIB_IMAGE_H

#include "framework/afxfile.h"
#include "framework/afxgdi.h"

class CDibImage : public CObject {
public:
    CDibImage();
    ~CDibImage() override;
    CDibImage(const CDibImage &) = delete;
    CDibImage &operator=(const CDibImage &) = delete;

    // Releases the picture.
    void Free();
    // A new picture of the given size with an all-zero colour table and
    // pixels. Refuses (FALSE, current picture kept) anything but 8 or 24 bits,
    // BI_RGB or BI_BITFIELDS, negative sizes and pictures whose pixel area
    // does not fit a 32-bit size. FALSE with no picture when memory is short.
    BOOL Create(LONG width, LONG height, LONG bitCount, LONG compression);
    // Reads a BMP file. Faults are raised as CArchiveException (endOfFile,
    // badIndex) or CMemoryException, after the previous picture is released.
    BOOL Read(CFile &file);
    // Copies up to `count` colour-table bytes, never more than the table holds.
    BOOL SetColorTable(const void *source, UINT count);
    RGBQUAD *GetColorTable() const;
    DWORD NumColors() const;
    BYTE *GetBits() const;
    LONG Width() const;
    LONG Height() const;
    // A logical palette from the colour table (null for more than 8 bits per
    // pixel); the caller owns it.
    HPALETTE MakePalette() const;
    // Paints the part of the picture that the rectangle (device coordinates)
    // shows at the zoom (per cent), its top-left corner at origin. On return
    // rect holds the rectangle painted.
    BOOL Paint(CDC *dc, CRect *rect, CPoint origin, int zoom, DWORD rop) const;

    // Colour-table entries named by the header: biClrUsed, or 2^bits up to 8
    // bits, 3 masks for 16/32-bit BI_BITFIELDS, else none.
    static DWORD ColorsOf(const BITMAPINFOHEADER &header);

    BITMAPINFO *m_pInfo;
};

#endif
