// The device context over a Win32 device context (included by afxgdi.h).
// The drawing calls go to GDI: palettes are the system's logical palettes,
// and StretchDIBits is the system's own.
#ifndef SORVU_FRAMEWORK_WIN32_AFXDC_H
#define SORVU_FRAMEWORK_WIN32_AFXDC_H

// The system's device-context handle, declared as its headers declare it.
struct HDC__;

class CDC;
typedef CDC *HDC;

// A device context over a system device context, which must outlive it.
class CDC {
public:
    explicit CDC(HDC__ *hdc) : m_hDC(hdc) {}
    HDC GetSafeHdc() { return this; }
    // Sets the mode for the following StretchDIBits calls; returns the old one.
    int SetStretchBltMode(int mode);
    HPALETTE GetSelectedPalette() const { return m_hPalette; }

    HDC__ *m_hDC;

private:
    friend HPALETTE SelectPalette(HDC, HPALETTE, BOOL);
    HPALETTE m_hPalette = nullptr;
    // The system palette the device context had before the first selection,
    // put back when no palette of ours is selected.
    void *m_hOriginalPalette = nullptr;
};

#endif
