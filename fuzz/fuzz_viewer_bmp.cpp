// Fuzz target: the viewer's BMP reader (CDibImage::Read) on any bytes, then
// paints of the picture at 100 per cent: one from its top-left corner and one
// over its bottom-right corner, where a short block would be overrun.
//
// A refused file raises one of the framework's exceptions and leaves no
// picture; an accepted one holds every byte its header describes. Needs a
// display (fuzz/run.sh starts it under xvfb-run).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/init.h>

#include "dib_image.h"

#define FUZZ_CHECK(condition)                                                                        \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);       \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)

namespace {

class FuzzApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

const int DEVICE_SIZE = 64;

void paint(const CDibImage &dib, CRect rect, CPoint origin) {
    static wxBitmap *target = new wxBitmap(DEVICE_SIZE, DEVICE_SIZE, 24);
    wxMemoryDC memory(*target);
    CDC dc(&memory);
    dib.Paint(&dc, &rect, origin, 100, SRCCOPY);
    memory.SelectObject(wxNullBitmap);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv) {
    // The fuzzer's own options are not the toolkit's business.
    static char *arguments[] = {(*argv)[0], nullptr};
    int count = 1;
    wxApp::SetInstance(new FuzzApp);
    if (!wxEntryStart(count, arguments)) {
        std::fprintf(stderr, "fuzz_viewer_bmp needs a display: run it under xvfb-run\n");
        std::abort();
    }
    FUZZ_CHECK(wxTheApp->CallOnInit());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CDibImage dib;
    CMemFile file(std::vector<BYTE>(data, data + size));
    try {
        FUZZ_CHECK(dib.Read(file));
    } catch (const CArchiveException &) {
        FUZZ_CHECK(dib.m_pInfo == nullptr);
        return 0;
    } catch (const CMemoryException &) {
        FUZZ_CHECK(dib.m_pInfo == nullptr);
        return 0;
    }
    FUZZ_CHECK(dib.m_pInfo != nullptr);

    // Every byte the header describes is in the block.
    const BITMAPINFOHEADER &h = dib.m_pInfo->bmiHeader;
    const uint64_t width = h.biWidth < 0 ? uint64_t(-int64_t(h.biWidth)) : uint64_t(h.biWidth);
    const uint64_t height = h.biHeight < 0 ? uint64_t(-int64_t(h.biHeight)) : uint64_t(h.biHeight);
    const uint64_t rowSize = (width * h.biBitCount + 31) / 32 * 4;
    unsigned sum = 0;
    const BYTE *table = reinterpret_cast<const BYTE *>(dib.GetColorTable());
    for (uint64_t i = 0; i < uint64_t(4) * dib.NumColors(); ++i) sum += table[i];
    for (uint64_t i = 0; i < rowSize * height; ++i) sum += dib.GetBits()[i];
    volatile unsigned sink = sum;
    (void)sink;

    paint(dib, CRect(0, 0, DEVICE_SIZE, DEVICE_SIZE), CPoint(0, 0));
    const int64_t w = dib.Width(), ht = dib.Height();
    const int64_t half = DEVICE_SIZE / 2;
    if (w - half >= INT32_MIN && w + half <= INT32_MAX && ht - half >= INT32_MIN && ht + half <= INT32_MAX)
        paint(dib, CRect(LONG(w - half), LONG(ht - half), LONG(w + half), LONG(ht + half)), CPoint(0, 0));
    return 0;
}
