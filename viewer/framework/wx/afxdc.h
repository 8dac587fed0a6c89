// The device context over wxWidgets (included by afxgdi.h).
//
// The screen has no hardware palette, so a selected palette is only
// remembered and realising it maps no entries; pictures with a colour table
// are always drawn in that table's colours. StretchDIBits supports
// uncompressed 8- and 24-bit pictures with DIB_RGB_COLORS and SRCCOPY; pixel
// values beyond the colour table draw black, source pixels outside the
// bitmap are not drawn. Every stretch mode draws as COLORONCOLOR.
#ifndef SORVU_FRAMEWORK_WX_AFXDC_H
#define SORVU_FRAMEWORK_WX_AFXDC_H

class wxDC;
class CDC;
typedef CDC *HDC;

// A device context over a wxDC, which must outlive it.
class CDC {
public:
    explicit CDC(wxDC *dc) : m_pDC(dc) {}
    HDC GetSafeHdc() { return this; }
    wxDC *GetWxDC() const { return m_pDC; }
    // Sets the mode for the following StretchDIBits calls; returns the old one.
    int SetStretchBltMode(int mode);
    int GetStretchBltMode() const { return m_nStretchMode; }
    HPALETTE GetSelectedPalette() const { return m_hPalette; }

private:
    friend HPALETTE SelectPalette(HDC, HPALETTE, BOOL);
    friend UINT RealizePalette(HDC);
    wxDC *m_pDC;
    int m_nStretchMode = BLACKONWHITE;
    HPALETTE m_hPalette = nullptr;
    bool m_bPaletteBackground = false;
};

#endif
