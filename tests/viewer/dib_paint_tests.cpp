// CDibImage painted into an off-screen device context; the pixels are read
// back and compared with the picture. Runs on a display (Xvfb).
#include "dib_image.h"
#include "test_bmp.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/init.h>

#include <string>

namespace {

const std::string kSuite = std::string(SORVU_TEST_DATA) + "/bmpsuite";
const Rgb kBackground{1, 2, 3}; // a colour no test picture uses

struct Painted {
    BOOL result;
    CRect rect;
    wxImage image;
    Rgb at(int x, int y) const {
        return Rgb{image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)};
    }
};

// Paints into a device of w x h pixels, first filled with kBackground.
Painted paint(const CDibImage &dib, int w, int h, CRect rect, int zoom, CPoint origin = CPoint(0, 0)) {
    wxBitmap target(w, h, 24);
    Painted out;
    {
        wxMemoryDC mem(target);
        mem.SetBackground(wxBrush(wxColour(kBackground.r, kBackground.g, kBackground.b)));
        mem.Clear();
        CDC dc(&mem);
        out.result = dib.Paint(&dc, &rect, origin, zoom, SRCCOPY);
        mem.SelectObject(wxNullBitmap);
    }
    out.rect = rect;
    out.image = target.ConvertToImage();
    return out;
}

void load(CDibImage &dib, std::vector<uint8_t> bytes) {
    CMemFile file(std::move(bytes));
    dib.Read(file);
}

// Colour of picture pixel (x, y), y from the top, as the test pattern made it.
Rgb expected(const BmpLayout &layout, int x, int y) {
    const uint32_t v = layout.pixel ? layout.pixel(x, y) : (layout.bitCount == 24 ? testRgb(x, y) : testIndex(x, y));
    if (layout.bitCount == 24) return Rgb{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    return layout.colour ? layout.colour(int(v)) : testColour(int(v));
}

int countBackground(const Painted &p) {
    int n = 0;
    for (int y = 0; y < p.image.GetHeight(); ++y)
        for (int x = 0; x < p.image.GetWidth(); ++x) n += p.at(x, y) == kBackground;
    return n;
}

} // namespace

// 8- and 24-bit pictures at 50, 100 and 200 per cent: enlarged pixels repeat
// the picture pixel under their top-left corner, a halved picture keeps the
// right column and the upper row of each pair (as the system's stretch does),
// rows come out top row first, colours come from the table (8 bits) or the
// BGR triples (24 bits), nothing else is touched.
TEST(DibPaint, EightAndTwentyFourBitsAtEachZoom) {
    for (uint16_t bits : {8, 24}) {
        BmpLayout layout;
        layout.bitCount = bits;
        layout.width = 38; // 38 pixels at 8 bits: rows padded to 40 bytes
        layout.height = 26;
        CDibImage dib;
        load(dib, makeBmp(layout));
        ASSERT_NE(dib.GetBits(), nullptr);
        for (int zoom : {50, 100, 200}) {
            const int w = layout.width * zoom / 100, h = layout.height * zoom / 100;
            const Painted p = paint(dib, 100, 80, CRect(0, 0, 100, 80), zoom);
            SCOPED_TRACE(testing::Message() << bits << " bits, zoom " << zoom);
            EXPECT_TRUE(p.result);
            EXPECT_EQ(p.rect, CRect(0, 0, w, h));
            int wrong = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const Rgb want = zoom == 50 ? expected(layout, 2 * x + 1, 2 * y)
                                                : expected(layout, x * 100 / zoom, y * 100 / zoom);
                    if (!(p.at(x, y) == want) && ++wrong < 5) ADD_FAILURE() << "pixel " << x << "," << y;
                }
            EXPECT_EQ(wrong, 0);
            EXPECT_EQ(countBackground(p), 100 * 80 - w * h);
        }
    }
}

TEST(DibPaint, OddSizeAtHalfZoomIsTruncatedAfterClipping) {
    BmpLayout layout;
    layout.width = 101;
    layout.height = 75;
    CDibImage dib;
    load(dib, makeBmp(layout));
    const Painted p = paint(dib, 400, 300, CRect(0, 0, 400, 300), 50);
    EXPECT_TRUE(p.result);
    EXPECT_EQ(p.rect, CRect(0, 0, 50, 37));
    EXPECT_EQ(countBackground(p), 400 * 300 - 50 * 37);
    // Uneven runs: 101 columns and 75 rows each go into runs of two with one
    // run of three in the middle (columns 48-50, rows 36-38); a run shows its
    // last column and its first row.
    EXPECT_EQ(p.at(0, 0), expected(layout, 1, 0));
    EXPECT_EQ(p.at(24, 18), expected(layout, 50, 36));
    EXPECT_EQ(p.at(25, 19), expected(layout, 52, 39));
    EXPECT_EQ(p.at(49, 36), expected(layout, 100, 73));
}

// At 200 per cent a 300 x 200 rectangle covers 150 x 100 picture pixels plus
// two for the partly visible edge pixels: source (0, 0, 152, 102).
TEST(DibPaint, DoubleZoomTakesTwoExtraSourcePixels) {
    BmpLayout layout;
    layout.bitCount = 24;
    layout.width = 160;
    layout.height = 120;
    CDibImage dib;
    load(dib, makeBmp(layout));
    const Painted p = paint(dib, 320, 240, CRect(0, 0, 300, 200), 200);
    EXPECT_TRUE(p.result);
    EXPECT_EQ(p.rect, CRect(0, 0, 304, 204));
    EXPECT_EQ(p.at(303, 203), expected(layout, 151, 101));
    EXPECT_EQ(p.at(302, 202), expected(layout, 151, 101));
    EXPECT_EQ(p.at(301, 201), expected(layout, 150, 100));
    EXPECT_EQ(p.at(304, 204), kBackground);
    EXPECT_EQ(countBackground(p), 320 * 240 - 304 * 204);
}

// A rectangle that does not start at the corner selects the picture pixels
// under it and paints them at the origin.
TEST(DibPaint, RectangleOffsetSelectsTheSource) {
    BmpLayout layout;
    layout.width = 64;
    layout.height = 48;
    CDibImage dib;
    load(dib, makeBmp(layout));
    const Painted p = paint(dib, 100, 100, CRect(20, 10, 40, 30), 100, CPoint(5, 7));
    EXPECT_TRUE(p.result);
    EXPECT_EQ(p.rect, CRect(5, 7, 5 + 22, 7 + 22));
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 22; ++x) ASSERT_EQ(p.at(5 + x, 7 + y), expected(layout, 20 + x, 10 + y)) << x << "," << y;
    // Beyond the picture's right edge nothing is taken.
    const Painted edge = paint(dib, 100, 100, CRect(60, 0, 100, 10), 100);
    EXPECT_EQ(edge.rect, CRect(0, 0, 4, 12));
    EXPECT_EQ(edge.at(3, 0), expected(layout, 63, 0));
    EXPECT_EQ(edge.at(4, 0), kBackground);
}

TEST(DibPaint, NothingIsPaintedWithoutAVisiblePicture) {
    CDibImage empty;
    Painted p = paint(empty, 50, 50, CRect(0, 0, 50, 50), 100);
    EXPECT_FALSE(p.result);
    EXPECT_EQ(countBackground(p), 50 * 50);

    BmpLayout layout;
    layout.height = -20; // rows stored top first
    layout.width = 30;
    CDibImage topDown;
    load(topDown, makeBmp(layout));
    ASSERT_NE(topDown.GetBits(), nullptr);
    for (int zoom : {50, 100, 200}) {
        p = paint(topDown, 50, 50, CRect(0, 0, 50, 50), zoom);
        EXPECT_FALSE(p.result);
        EXPECT_EQ(countBackground(p), 50 * 50);
    }

    // A rectangle wholly past the picture.
    BmpLayout small;
    CDibImage dib;
    load(dib, makeBmp(small));
    p = paint(dib, 50, 50, CRect(100, 100, 150, 150), 100);
    EXPECT_FALSE(p.result);
    EXPECT_EQ(countBackground(p), 50 * 50);
}

TEST(DibPaint, SixteenEntryTableGivesItsColoursAndBlackBeyondIt) {
    BmpLayout layout;
    layout.clrUsed = 16;
    layout.width = 20;
    layout.height = 2;
    layout.pixel = [](int x, int) { return uint32_t(x); }; // indices 16..19 lie beyond the table
    CDibImage dib;
    load(dib, makeBmp(layout));
    ASSERT_EQ(dib.NumColors(), 16u);
    const Painted p = paint(dib, 20, 2, CRect(0, 0, 20, 2), 100);
    EXPECT_TRUE(p.result);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(p.at(x, 1), testColour(x)) << x;
    for (int x = 16; x < 20; ++x) EXPECT_EQ(p.at(x, 1), (Rgb{0, 0, 0})) << x;
}

// A picture made by Create and filled like the viewer's .vek load path.
TEST(DibPaint, CreatedPictureShowsItsTableAndRows) {
    CDibImage dib;
    ASSERT_TRUE(dib.Create(3, 2, 8, BI_RGB));
    const BYTE table[] = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0}; // red, green, blue
    ASSERT_TRUE(dib.SetColorTable(table, sizeof table));
    const BYTE rows[] = {0, 1, 2, 0, 0, 2, 1, 0}; // bottom row first, padded to 4
    std::copy(rows, rows + sizeof rows, dib.GetBits());
    const Painted p = paint(dib, 3, 2, CRect(0, 0, 3, 2), 100);
    EXPECT_EQ(p.at(0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(p.at(1, 0), (Rgb{0, 0, 255}));
    EXPECT_EQ(p.at(2, 0), (Rgb{0, 255, 0}));
    EXPECT_EQ(p.at(0, 1), (Rgb{255, 0, 0}));
    EXPECT_EQ(p.at(1, 1), (Rgb{0, 255, 0}));
    EXPECT_EQ(p.at(2, 1), (Rgb{0, 0, 255}));
}

// The suite's 8- and 24-bit pictures at 100 per cent match its reference
// renderings pixel for pixel.
TEST(DibBmpSuitePaint, PicturesMatchTheReferenceRenderings) {
    const std::pair<const char *, const char *> pairs[] = {
        {"g/pal8.bmp", "pal8.png"},           {"g/pal8-0.bmp", "pal8.png"},
        {"g/pal8gs.bmp", "pal8gs.png"},       {"g/pal8nonsquare.bmp", "pal8nonsquare-e.png"},
        {"g/pal8v4.bmp", "pal8.png"},         {"g/pal8v5.bmp", "pal8.png"},
        {"g/pal8w124.bmp", "pal8w124.png"},   {"g/pal8w125.bmp", "pal8w125.png"},
        {"g/pal8w126.bmp", "pal8w126.png"},   {"g/rgb24.bmp", "rgb24.png"},
        {"g/rgb24pal.bmp", "rgb24.png"},      {"q/pal8offs.bmp", "pal8.png"},
        {"q/pal8oversizepal.bmp", "pal8.png"}, {"q/rgb24largepal.bmp", "rgb24.png"},
    };
    for (const auto &pair : pairs) {
        SCOPED_TRACE(pair.first);
        CDibImage dib;
        CFile file;
        ASSERT_TRUE(file.Open((kSuite + "/" + pair.first).c_str(), CFile::modeRead));
        ASSERT_NO_THROW(dib.Read(file));
        wxImage reference;
        ASSERT_TRUE(reference.LoadFile(wxString::FromUTF8(kSuite + "/reference/" + pair.second), wxBITMAP_TYPE_PNG));
        const int w = reference.GetWidth(), h = reference.GetHeight();
        ASSERT_EQ(dib.Width(), w);
        ASSERT_EQ(dib.Height(), h);
        const Painted p = paint(dib, w + 10, h + 10, CRect(0, 0, w + 10, h + 10), 100);
        EXPECT_EQ(p.rect, CRect(0, 0, w, h));
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                wrong += !(p.at(x, y) == (Rgb{reference.GetRed(x, y), reference.GetGreen(x, y), reference.GetBlue(x, y)}));
        EXPECT_EQ(wrong, 0);
    }
    // The top-down variant is read but, as a picture of negative height,
    // paints nothing.
    CDibImage dib;
    CFile file;
    ASSERT_TRUE(file.Open((kSuite + "/g/pal8topdown.bmp").c_str(), CFile::modeRead));
    dib.Read(file);
    EXPECT_FALSE(paint(dib, 130, 70, CRect(0, 0, 130, 70), 100).result);
}

// Whatever the bad files yield is painted at every zoom without reading
// outside the picture (the sanitizer build checks the reads).
TEST(DibBmpSuitePaint, BadFilesThatAreReadPaintSafely) {
    for (const char *name : {"b/pal8badindex.bmp", "g/pal8.bmp"}) {
        CDibImage dib;
        CFile file;
        ASSERT_TRUE(file.Open((kSuite + "/" + name).c_str(), CFile::modeRead));
        dib.Read(file);
        for (int zoom : {-5, 0, 1, 50, 100, 200, 1000}) {
            const Painted p = paint(dib, 300, 200, CRect(0, 0, 300, 200), zoom);
            // Below 1 per cent the zoom counts as 1: 127 x 64 pixels shrink
            // to 1 x 0, which paints nothing.
            EXPECT_EQ(p.result, zoom >= 50) << name << " " << zoom;
        }
    }
}

namespace {

class PaintTestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

} // namespace

wxIMPLEMENT_APP_NO_MAIN(PaintTestApp);

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    if (!wxEntryStart(argc, argv)) {
        fprintf(stderr, "no display: run the test under Xvfb\n");
        return 1;
    }
    wxInitAllImageHandlers();
    if (!wxTheApp->CallOnInit()) return 1;
    const int rc = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return rc;
}
