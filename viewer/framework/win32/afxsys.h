// The system's headers for the Win32 framework files. Included after the
// framework's own headers: the names that the framework and the codec's
// public header give their own types (DWORD and LONG of fixed width, the
// bitmap structures, the palette and device-context handles, the creation
// parameters) are the system's under a WIN_ prefix here, and the system's
// macro that would rename a framework member (SetWindowText) is undone.
#ifndef SORVU_FRAMEWORK_WIN32_AFXSYS_H
#define SORVU_FRAMEWORK_WIN32_AFXSYS_H

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#define DWORD WIN_DWORD
#define LONG WIN_LONG
#define BITMAPFILEHEADER WIN_BITMAPFILEHEADER
#define BITMAPINFOHEADER WIN_BITMAPINFOHEADER
#define BITMAPINFO WIN_BITMAPINFO
#define RGBQUAD WIN_RGBQUAD
#define PALETTEENTRY WIN_PALETTEENTRY
#define LOGPALETTE WIN_LOGPALETTE
#define HPALETTE WIN_HPALETTE
#define HDC WIN_HDC
#define CREATESTRUCT WIN_CREATESTRUCT
// (the system makes CREATESTRUCT from the name with an A appended)
#define WIN_CREATESTRUCTA CREATESTRUCTA

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#undef DWORD
#undef LONG
#undef BITMAPFILEHEADER
#undef BITMAPINFOHEADER
#undef BITMAPINFO
#undef RGBQUAD
#undef PALETTEENTRY
#undef LOGPALETTE
#undef HPALETTE
#undef HDC
#undef CREATESTRUCT
#undef WIN_CREATESTRUCTA

#undef SetWindowText

#endif
