// CDibImage without a display: reading BMP files, creating pictures, colour
// tables and palettes.
#include "dib_image.h"
#include "test_bmp.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const std::string kSuite = std::string(SORVU_TEST_DATA) + "/bmpsuite";

// Reads the bytes as a file; returns the archive cause of a refusal, -1 for
// a memory exception, 0 when the picture was read.
int readCause(CDibImage &dib, std::vector<uint8_t> bytes) {
    CMemFile file(std::move(bytes));
    try {
        EXPECT_TRUE(dib.Read(file));
        return 0;
    } catch (const CArchiveException &e) {
        return e.m_cause;
    } catch (const CMemoryException &) {
        return -1;
    }
}

// Pixel row y (counted from the top) of the picture held.
const BYTE *rowFromTop(const CDibImage &dib, int y) {
    const BITMAPINFOHEADER &h = dib.m_pInfo->bmiHeader;
    const size_t rowSize = (size_t(std::abs(h.biWidth)) * h.biBitCount + 31) / 32 * 4;
    const int stored = h.biHeight > 0 ? h.biHeight - 1 - y : y;
    return dib.GetBits() + rowSize * stored;
}

// Touches every byte the header says the picture has, so that the address
// sanitizer reports a block that does not hold them.
unsigned sumPicture(const CDibImage &dib) {
    const BITMAPINFOHEADER &h = dib.m_pInfo->bmiHeader;
    const size_t rowSize = (size_t(std::abs(h.biWidth)) * h.biBitCount + 31) / 32 * 4;
    unsigned sum = 0;
    for (DWORD i = 0; i < dib.NumColors(); ++i) sum += dib.GetColorTable()[i].rgbRed;
    const size_t bytes = rowSize * size_t(std::abs(h.biHeight));
    for (size_t i = 0; i < bytes; ++i) sum += dib.GetBits()[i];
    return sum;
}

std::vector<std::string> bmpFilesIn(const std::string &folder) {
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".bmp") == 0) names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(DibRead, EightBitPictureKeepsHeaderTableAndBottomUpRows) {
    BmpLayout layout;
    layout.width = 13; // rows padded from 13 to 16 bytes
    layout.height = 5;
    CDibImage dib;
    ASSERT_EQ(readCause(dib, makeBmp(layout)), 0);
    EXPECT_EQ(dib.Width(), 13);
    EXPECT_EQ(dib.Height(), 5);
    EXPECT_EQ(dib.NumColors(), 256u);
    EXPECT_EQ(dib.m_pInfo->bmiHeader.biSize, 40u);
    EXPECT_EQ(dib.GetColorTable(), reinterpret_cast<RGBQUAD *>(reinterpret_cast<BYTE *>(dib.m_pInfo) + 40));
    EXPECT_EQ(dib.GetBits(), reinterpret_cast<BYTE *>(dib.m_pInfo) + 40 + 1024);
    for (int i : {0, 1, 77, 255}) {
        const Rgb c = testColour(i);
        EXPECT_EQ(dib.GetColorTable()[i].rgbRed, c.r) << i;
        EXPECT_EQ(dib.GetColorTable()[i].rgbGreen, c.g) << i;
        EXPECT_EQ(dib.GetColorTable()[i].rgbBlue, c.b) << i;
    }
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 13; ++x) EXPECT_EQ(rowFromTop(dib, y)[x], testIndex(x, y)) << x << "," << y;
}

TEST(DibRead, TwentyFourBitPictureHasNoTable) {
    BmpLayout layout;
    layout.bitCount = 24;
    layout.width = 7;
    layout.height = 3;
    CDibImage dib;
    ASSERT_EQ(readCause(dib, makeBmp(layout)), 0);
    EXPECT_EQ(dib.NumColors(), 0u);
    EXPECT_EQ(dib.GetBits(), reinterpret_cast<BYTE *>(dib.m_pInfo) + 40);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x) {
            const BYTE *p = rowFromTop(dib, y) + 3 * x;
            EXPECT_EQ(uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0], testRgb(x, y)) << x << "," << y;
        }
}

TEST(DibRead, ClrUsedSixteenTakesSixteenEntries) {
    BmpLayout layout;
    layout.clrUsed = 16;
    layout.pixel = [](int x, int y) { return uint32_t((x + y) % 16); };
    CDibImage dib;
    ASSERT_EQ(readCause(dib, makeBmp(layout)), 0);
    EXPECT_EQ(dib.NumColors(), 16u);
    EXPECT_EQ(dib.GetBits() - reinterpret_cast<BYTE *>(dib.m_pInfo), 40 + 64);
    for (int y = 0; y < layout.height; ++y)
        for (int x = 0; x < layout.width; ++x) EXPECT_EQ(rowFromTop(dib, y)[x], (x + y) % 16);
}

// Files as the codec's decoder writes them: biClrUsed 0 and a colour table
// shorter than 256 entries, the rows right after it at bfOffBits.
TEST(DibRead, ShortTableWithClrUsedZeroIsCompletedWithZeros) {
    for (int entries : {0, 1, 2, 200, 255}) {
        BmpLayout layout;
        layout.tableEntries = entries;
        layout.width = 9;
        layout.pixel = [entries](int x, int y) { return entries ? uint32_t((x + 3 * y) % entries) : 0u; };
        CDibImage dib;
        ASSERT_EQ(readCause(dib, makeBmp(layout)), 0) << entries;
        ASSERT_EQ(dib.NumColors(), 256u);
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD q = dib.GetColorTable()[i];
            const Rgb want = i < entries ? testColour(i) : Rgb{0, 0, 0};
            EXPECT_TRUE(q.rgbRed == want.r && q.rgbGreen == want.g && q.rgbBlue == want.b) << entries << " " << i;
        }
        for (int y = 0; y < layout.height; ++y)
            for (int x = 0; x < layout.width; ++x) EXPECT_EQ(rowFromTop(dib, y)[x], layout.pixel(x, y)) << entries;
    }
}

TEST(DibRead, RowsAreTakenFromOffBitsWhenTheyFollowAGap) {
    BmpLayout layout;
    layout.clrUsed = 20;
    layout.gapBytes = 100;
    layout.pixel = [](int x, int y) { return uint32_t((x * y) % 20); };
    CDibImage dib;
    ASSERT_EQ(readCause(dib, makeBmp(layout)), 0);
    EXPECT_EQ(dib.NumColors(), 20u);
    for (int y = 0; y < layout.height; ++y)
        for (int x = 0; x < layout.width; ++x) EXPECT_EQ(rowFromTop(dib, y)[x], (x * y) % 20);
}

TEST(DibRead, NegativeHeightIsReadAsIs) {
    BmpLayout layout;
    layout.height = -4;
    CDibImage dib;
    ASSERT_EQ(readCause(dib, makeBmp(layout)), 0);
    EXPECT_EQ(dib.Height(), -4);
    EXPECT_EQ(rowFromTop(dib, 0)[3], testIndex(3, 0));
}

TEST(DibRead, RefusalsNameTheirCauseAndLeaveNoPicture) {
    const std::vector<uint8_t> good = makeBmp(BmpLayout());
    struct Case {
        const char *what;
        std::function<void(std::vector<uint8_t> &)> damage;
        int cause;
    };
    const std::vector<Case> cases = {
        {"empty file", [](std::vector<uint8_t> &b) { b.clear(); }, CArchiveException::endOfFile},
        {"13 bytes", [](std::vector<uint8_t> &b) { b.resize(13); }, CArchiveException::endOfFile},
        {"signature", [](std::vector<uint8_t> &b) { b[1] = 'A'; }, CArchiveException::badIndex},
        {"info header cut", [](std::vector<uint8_t> &b) { b.resize(30); }, CArchiveException::endOfFile},
        {"biSize 12", [](std::vector<uint8_t> &b) { put32(b, 14, 12); }, CArchiveException::badIndex},
        {"biSize 64", [](std::vector<uint8_t> &b) { put32(b, 14, 64); }, CArchiveException::badIndex},
        {"4 bits", [](std::vector<uint8_t> &b) { put16(b, 28, 4); }, CArchiveException::badIndex},
        {"16 bits", [](std::vector<uint8_t> &b) { put16(b, 28, 16); }, CArchiveException::badIndex},
        {"32 bits", [](std::vector<uint8_t> &b) { put16(b, 28, 32); }, CArchiveException::badIndex},
        {"RLE8", [](std::vector<uint8_t> &b) { put32(b, 30, 1); }, CArchiveException::badIndex},
        {"bitfields", [](std::vector<uint8_t> &b) { put32(b, 30, 3); }, CArchiveException::badIndex},
        {"one row missing", [](std::vector<uint8_t> &b) { b.resize(b.size() - 8); put32(b, 2, uint32_t(b.size())); },
         CArchiveException::badIndex},
        {"one byte missing", [](std::vector<uint8_t> &b) { b.pop_back(); put32(b, 2, uint32_t(b.size())); },
         CArchiveException::badIndex},
        {"taller than the data", [](std::vector<uint8_t> &b) { put32(b, 22, 5); }, CArchiveException::badIndex},
        {"far too tall", [](std::vector<uint8_t> &b) { put32(b, 22, 0x7FFFFFFF); }, CArchiveException::badIndex},
        {"most negative height", [](std::vector<uint8_t> &b) { put32(b, 22, 0x80000000u); }, CArchiveException::badIndex},
        {"far too wide", [](std::vector<uint8_t> &b) { put32(b, 18, 0x7FFFFFFF); }, CArchiveException::badIndex},
        {"rows inside headers", [](std::vector<uint8_t> &b) { put32(b, 10, 20); }, CArchiveException::badIndex},
        {"rows beyond the end", [](std::vector<uint8_t> &b) { put32(b, 10, uint32_t(b.size() + 1)); },
         CArchiveException::badIndex},
        {"named table missing", [](std::vector<uint8_t> &b) { put32(b, 46, 300); }, CArchiveException::badIndex},
        {"huge table", [](std::vector<uint8_t> &b) { put32(b, 46, 305402420); }, CArchiveException::badIndex},
        {"size field below headers", [](std::vector<uint8_t> &b) { put32(b, 2, 20); }, CArchiveException::badIndex},
        {"size field beyond file", [](std::vector<uint8_t> &b) { put32(b, 2, 2111692253); },
         CArchiveException::endOfFile},
        {"file cut after header", [](std::vector<uint8_t> &b) { b.resize(60); }, CArchiveException::endOfFile},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        CDibImage dib;
        ASSERT_EQ(readCause(dib, good), 0);
        EXPECT_EQ(readCause(dib, bytes), c.cause) << c.what;
        EXPECT_EQ(dib.GetBits(), nullptr) << c.what;
        EXPECT_EQ(dib.m_pInfo, nullptr) << c.what;
        EXPECT_EQ(dib.Width(), 0) << c.what;
        EXPECT_EQ(dib.NumColors(), 0u) << c.what;
    }
}

TEST(DibRead, ReadsFromFilesOnDisk) {
    CFile file;
    ASSERT_TRUE(file.Open((kSuite + "/g/rgb24.bmp").c_str(), CFile::modeRead | CFile::shareDenyWrite));
    CDibImage dib;
    EXPECT_TRUE(dib.Read(file));
    EXPECT_EQ(dib.Width(), 127);
    EXPECT_EQ(dib.Height(), 64);

    CFile directory;
    EXPECT_FALSE(directory.Open(kSuite.c_str(), CFile::modeRead));
    CFileException error;
    EXPECT_FALSE(directory.Open((kSuite + "/none.bmp").c_str(), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
}

// Every file of the suite's good set with 8 or 24 bits, a 40-, 108- or
// 124-byte info header and uncompressed rows is read; every other one is refused as a bad format.
TEST(DibBmpSuite, GoodFilesAreReadWhenTheirFormatIsOurs) {
    const std::vector<std::string> names = bmpFilesIn(kSuite + "/g");
    ASSERT_GE(names.size(), 27u);
    std::vector<std::string> read;
    for (const std::string &name : names) {
        std::vector<uint8_t> bytes = readFileBytes(kSuite + "/g/" + name);
        const uint32_t infoSize = get32(bytes, 14);
        const bool ours = (infoSize == 40 || infoSize == 108 || infoSize == 124) && (bytes[28] == 8 || bytes[28] == 24) && bytes[29] == 0 &&
                          get32(bytes, 30) == 0;
        CDibImage dib;
        const int cause = readCause(dib, bytes);
        if (ours) {
            EXPECT_EQ(cause, 0) << name;
            read.push_back(name);
            sumPicture(dib);
        } else {
            EXPECT_EQ(cause, CArchiveException::badIndex) << name;
        }
    }
    const std::vector<std::string> expected = {"pal8-0.bmp", "pal8.bmp", "pal8gs.bmp", "pal8nonsquare.bmp",
                                               "pal8topdown.bmp", "pal8v4.bmp", "pal8v5.bmp", "pal8w124.bmp", "pal8w125.bmp", "pal8w126.bmp",
                                               "rgb24.bmp", "rgb24pal.bmp"};
    EXPECT_EQ(read, expected);
}

TEST(DibBmpSuite, BadFilesAreRefusedOrReadWithinTheirBytes) {
    const std::vector<std::string> names = bmpFilesIn(kSuite + "/b");
    ASSERT_GE(names.size(), 20u);
    for (const std::string &name : names) {
        CDibImage dib;
        const int cause = readCause(dib, readFileBytes(kSuite + "/b/" + name));
        if (cause == 0) {
            // Only the file whose pixels name missing colours is complete.
            EXPECT_EQ(name, "pal8badindex.bmp");
            sumPicture(dib);
        } else {
            EXPECT_TRUE(cause == CArchiveException::badIndex || cause == CArchiveException::endOfFile) << name;
            EXPECT_EQ(dib.GetBits(), nullptr) << name;
        }
    }
}

TEST(DibCreate, MakesAnEmptyPictureOfTheRequestedShape) {
    CDibImage dib;
    ASSERT_TRUE(dib.Create(5, 3, 8, BI_RGB));
    const BITMAPINFOHEADER &h = dib.m_pInfo->bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biSizeImage, 8u * 3);
    EXPECT_EQ(h.biClrUsed, 256u);
    EXPECT_EQ(dib.NumColors(), 256u);
    EXPECT_EQ(dib.GetBits() - reinterpret_cast<BYTE *>(dib.m_pInfo), 40 + 1024);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(dib.GetBits()[i], 0);

    ASSERT_TRUE(dib.Create(5, 3, 24, BI_BITFIELDS));
    EXPECT_EQ(dib.m_pInfo->bmiHeader.biSizeImage, 16u * 3);
    EXPECT_EQ(dib.m_pInfo->bmiHeader.biCompression, BI_BITFIELDS);
    EXPECT_EQ(dib.NumColors(), 0u);
    EXPECT_EQ(dib.GetBits() - reinterpret_cast<BYTE *>(dib.m_pInfo), 40);

    ASSERT_TRUE(dib.Create(0, 0, 24, BI_RGB));
    EXPECT_NE(dib.GetBits(), nullptr);
}

TEST(DibCreate, RefusedArgumentsKeepThePreviousPicture) {
    CDibImage dib;
    ASSERT_TRUE(dib.Create(4, 4, 8, BI_RGB));
    BYTE *bits = dib.GetBits();
    bits[0] = 42;
    for (LONG bits_ : {1, 4, 16, 32}) EXPECT_FALSE(dib.Create(4, 4, bits_, BI_RGB)) << bits_;
    for (LONG compression : {1, 2, 4, 5}) EXPECT_FALSE(dib.Create(4, 4, 8, compression)) << compression;
    EXPECT_FALSE(dib.Create(-4, 4, 8, BI_RGB));
    EXPECT_FALSE(dib.Create(4, -4, 8, BI_RGB));
    // 65535 x 65535 at 24 bits does not fit a 32-bit image size.
    EXPECT_FALSE(dib.Create(65535, 65535, 24, BI_RGB));
    EXPECT_EQ(dib.GetBits(), bits);
    EXPECT_EQ(dib.GetBits()[0], 42);
    EXPECT_EQ(dib.Width(), 4);
}

TEST(DibColorTable, SetColorTableCopiesNoMoreThanTheTable) {
    CDibImage dib;
    EXPECT_FALSE(dib.SetColorTable("abcd", 4)); // no picture
    ASSERT_TRUE(dib.Create(4, 1, 8, BI_RGB));
    EXPECT_FALSE(dib.SetColorTable(nullptr, 4));
    std::vector<BYTE> source(2000);
    for (size_t i = 0; i < source.size(); ++i) source[i] = BYTE(i * 7 + 1);
    EXPECT_TRUE(dib.SetColorTable(source.data(), UINT(source.size())));
    EXPECT_EQ(std::memcmp(dib.GetColorTable(), source.data(), 1024), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(dib.GetBits()[i], 0) << "pixel bytes overwritten";

    ASSERT_TRUE(dib.Create(4, 1, 24, BI_RGB));
    EXPECT_TRUE(dib.SetColorTable(source.data(), 8));
    for (int i = 0; i < 12; ++i) EXPECT_EQ(dib.GetBits()[i], 0) << "24-bit picture has no table";

    ASSERT_TRUE(dib.Create(4, 1, 8, BI_RGB));
    EXPECT_TRUE(dib.SetColorTable(source.data(), 6));
    EXPECT_EQ(std::memcmp(dib.GetColorTable(), source.data(), 6), 0);
    EXPECT_EQ(reinterpret_cast<BYTE *>(dib.GetColorTable())[6], 0);
}

TEST(DibPalette, PaletteFollowsTheColourTable) {
    CDibImage dib;
    EXPECT_EQ(dib.MakePalette(), nullptr);

    BmpLayout layout;
    layout.clrUsed = 16;
    layout.pixel = [](int, int) { return 0u; };
    ASSERT_EQ(readCause(dib, makeBmp(layout)), 0);
    HPALETTE palette = dib.MakePalette();
    ASSERT_NE(palette, nullptr);
    ASSERT_EQ(palette->entries.size(), 16u);
    for (int i = 0; i < 16; ++i) {
        const Rgb c = testColour(i);
        EXPECT_EQ(palette->entries[i].peRed, c.r);
        EXPECT_EQ(palette->entries[i].peGreen, c.g);
        EXPECT_EQ(palette->entries[i].peBlue, c.b);
        EXPECT_EQ(palette->entries[i].peFlags, PC_NOCOLLAPSE);
    }
    DeleteObject(palette);

    ASSERT_TRUE(dib.Create(2, 2, 8, BI_RGB));
    palette = dib.MakePalette();
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette->entries.size(), 256u);
    DeleteObject(palette);

    ASSERT_TRUE(dib.Create(2, 2, 24, BI_RGB));
    EXPECT_EQ(dib.MakePalette(), nullptr);
}

TEST(DibRects, IntersectionAndEmptiness) {
    CRect out(1, 2, 3, 4);
    const CRect picture(0, 0, 101, 75), wide(0, 0, 1000, 1000), flipped(0, 0, 127, -64);
    EXPECT_TRUE(IntersectRect(&out, &wide, &picture));
    EXPECT_EQ(out, picture);
    EXPECT_FALSE(IntersectRect(&out, &wide, &flipped));
    EXPECT_EQ(out, CRect());
    const CRect apart(200, 0, 300, 10);
    EXPECT_FALSE(IntersectRect(&out, &apart, &picture));
    EXPECT_TRUE(IsRectEmpty(&out));
    const CRect part(50, 70, 150, 80);
    EXPECT_TRUE(IntersectRect(&out, &part, &picture));
    EXPECT_EQ(out, CRect(50, 70, 101, 75));
}
