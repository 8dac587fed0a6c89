// Encoding and decoding whole files: the header layout, the rebuilt BMP
// headers, the pictures the encoder refuses, the decoders' checks, and round
// trips over every accepted kind of picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "test_support.h"
#include "vek/vek_failures.h"
#include "vek_codec.h"

using namespace testsupport;

namespace {

Bytes greyPalette(size_t entries) {
    Bytes p;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t v = static_cast<uint8_t>(i * 255 / (entries > 1 ? entries - 1 : 1));
        p.insert(p.end(), {v, v, v, 0});
    }
    return p;
}

struct Files {
    TempDir dir;
    std::string bmp = dir.file("in.bmp"), vek = dir.file("in.vek"), back = dir.file("back.bmp");
};

// Another build's encoder that must write the same .vek bytes as this one
// (the Windows build's converter under wine): VEK_OTHER_ENCODER holds the
// command line that comes before "e input output".
void expectSameBytesFromOtherEncoder(const Files &f) {
    const char *other = std::getenv("VEK_OTHER_ENCODER");
    if (other == nullptr || *other == '\0') return;
    const std::string vek = f.dir.file("other.vek");
    const RunResult r = run(std::string(other) + " e " + quote(f.bmp) + " " + quote(vek) + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(readFile(vek) == readFile(f.vek)) << "the other build's .vek file differs";
}

// The memory operations give the file operations' bytes, within the
// encoder's bound, and refuse an output one byte too small without writing
// past it.
void checkMemoryDoors(const Bytes &picture, const Bytes &coded, const Bytes &restored) {
    const uint8_t GUARD = 0xA5;
    auto codec = std::make_unique<VekCodec>();
    const uint32_t bound = codec->getEncodeBound(static_cast<uint32_t>(picture.size()));
    ASSERT_GE(bound, coded.size());
    Bytes vek(bound + 1, GUARD);
    uint32_t vekSize = bound;
    ASSERT_EQ(codec->encodeMemory(picture.data(), static_cast<uint32_t>(picture.size()), vek.data(), &vekSize), 1);
    EXPECT_EQ(Bytes(vek.begin(), vek.begin() + vekSize), coded);
    EXPECT_EQ(vek[bound], GUARD);

    ASSERT_EQ(codec->getDecodedSize(coded.data(), static_cast<uint32_t>(coded.size())), restored.size());
    Bytes bmp(restored.size() + 1, GUARD);
    uint32_t bmpSize = static_cast<uint32_t>(restored.size());
    ASSERT_EQ(codec->decodeMemory(coded.data(), static_cast<uint32_t>(coded.size()), bmp.data(), &bmpSize), 1);
    EXPECT_EQ(Bytes(bmp.begin(), bmp.begin() + bmpSize), restored);
    EXPECT_EQ(bmp.back(), GUARD);

    ASSERT_EQ(codec->loadMemory(coded.data(), static_cast<uint32_t>(coded.size())), 1);
    ASSERT_EQ(static_cast<size_t>(codec->getImageLength()), restored.size() - 54);
    EXPECT_TRUE(codec->getImageLength() == 0 ||
                std::memcmp(codec->getImage(), restored.data() + 54, restored.size() - 54) == 0);

    // One byte too few: refused, nothing written past the capacity, the
    // size left as it was.
    Bytes tight(coded.size(), GUARD);
    vekSize = static_cast<uint32_t>(coded.size()) - 1;
    EXPECT_EQ(codec->encodeMemory(picture.data(), static_cast<uint32_t>(picture.size()), tight.data(), &vekSize), 0);
    EXPECT_EQ(vekSize, coded.size() - 1);
    EXPECT_EQ(tight.back(), GUARD);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OUTPUT_TOO_SMALL);
    bmpSize = static_cast<uint32_t>(restored.size()) - 1;
    EXPECT_EQ(codec->decodeMemory(coded.data(), static_cast<uint32_t>(coded.size()), bmp.data(), &bmpSize), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OUTPUT_TOO_SMALL);
}

// Encodes and decodes `picture`, checking that the data bytes come back
// (through files and through memory alike).
Bytes roundTrip(const Bytes &picture, const std::string &what) {
    SCOPED_TRACE(what);
    Files f;
    writeFile(f.bmp, picture);
    auto codec = std::make_unique<VekCodec>();
    EXPECT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    expectSameBytesFromOtherEncoder(f);
    EXPECT_EQ(codec->decodeFile(f.vek.c_str(), f.back.c_str()), 1);
    const Bytes back = readFile(f.back);
    // The restored file holds the source's data bytes (colour table and pixel
    // rows) first; past the source's end only zeros may follow.
    EXPECT_GE(back.size(), picture.size());
    for (size_t i = 54; i < back.size(); ++i) {
        const uint8_t expected = i < picture.size() ? picture[i] : 0;
        if (back[i] != expected) {
            ADD_FAILURE() << "data byte " << i << " differs";
            break;
        }
    }
    // Loading into memory gives the same bytes.
    EXPECT_EQ(codec->loadFile(f.vek.c_str()), 1);
    EXPECT_EQ(static_cast<size_t>(codec->getImageLength()), back.size() - 54);
    if (codec->getImage() != nullptr) {
        EXPECT_EQ(0, std::memcmp(codec->getImage(), back.data() + 54, back.size() - 54));
    }
    const Bytes coded = readFile(f.vek);
    checkMemoryDoors(picture, coded, back);
    return coded;
}

} // namespace

TEST(FileFormat, SmallPalettePictureHeaderAndRestoredFile) {
    Files f;
    Bytes palette = greyPalette(256);
    writeFile(f.bmp, makeBmp(2, 2, 8, palette, Bytes{1, 2, 0, 0, 3, 4, 0, 0}));
    auto codec = std::make_unique<VekCodec>();
    ASSERT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    const Bytes vek = readFile(f.vek);
    ASSERT_GE(vek.size(), 12u);
    EXPECT_EQ(Bytes(vek.begin(), vek.begin() + 12),
              (Bytes{0x56, 0x45, 0x4B, 0x21, 0x00, 0x04, 0x01, 0x08, 0x02, 0x00, 0x02, 0x00}));
    EXPECT_EQ(codec->getWidth(), 2);
    EXPECT_EQ(codec->getHeight(), 2);
    EXPECT_EQ(codec->getBitCount(), 8);

    ASSERT_EQ(codec->decodeFile(f.vek.c_str(), f.back.c_str()), 1);
    const Bytes back = readFile(f.back);
    ASSERT_EQ(back.size(), 1086u);
    EXPECT_EQ(get32(back, 2), 1086u);  // bfSize
    EXPECT_EQ(get32(back, 10), 1078u); // bfOffBits
    EXPECT_EQ(get32(back, 34), 8u);    // biSizeImage
    const Bytes source = readFile(f.bmp);
    EXPECT_EQ(Bytes(back.begin() + 54, back.end()), Bytes(source.begin() + 54, source.end()));

    ASSERT_EQ(codec->loadFile(f.vek.c_str()), 1);
    EXPECT_EQ(codec->getImageLength(), 1032);
    EXPECT_EQ(codec->getBits(), codec->getImage() + 1024);
}

TEST(FileFormat, RestoredHeadersAreRebuilt) {
    Files f;
    // Source with odd reserved, resolution and colour-count fields.
    Bytes src = makeBmp(3, 2, 24, Bytes(), randomBytes(24, 4));
    src[6] = 7;   // bfReserved1
    src[46] = 9;  // biClrUsed
    writeFile(f.bmp, src);
    auto codec = std::make_unique<VekCodec>();
    ASSERT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    ASSERT_EQ(codec->decodeFile(f.vek.c_str(), f.back.c_str()), 1);
    const Bytes back = readFile(f.back);
    EXPECT_EQ(get16(back, 0), 0x4D42);
    EXPECT_EQ(get16(back, 6), 0);
    EXPECT_EQ(get32(back, 14), 40u);   // biSize
    EXPECT_EQ(get16(back, 26), 1);     // biPlanes
    EXPECT_EQ(get32(back, 38), 0u);    // resolution
    EXPECT_EQ(get32(back, 42), 0u);
    EXPECT_EQ(get32(back, 46), 0u);    // colour counts
    EXPECT_EQ(get32(back, 50), 0u);
    // Width 3 at 24 bits: the data size rule counts 4 x 3 bytes a row.
    EXPECT_EQ(get32(back, 34), 24u);
    EXPECT_EQ(back.size(), 54u + 24u);
    const BITMAPFILEHEADER fh = codec->getFileHeader();
    EXPECT_EQ(static_cast<uint32_t>(fh.bfSize), 78u);
}

TEST(FileFormat, OnePixelPictureIsRestoredWithTheRowRule) {
    Files f;
    writeFile(f.bmp, makeBmp(1, 1, 24, Bytes(), Bytes{10, 20, 30, 0}));
    auto codec = std::make_unique<VekCodec>();
    ASSERT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    ASSERT_EQ(codec->decodeFile(f.vek.c_str(), f.back.c_str()), 1);
    const Bytes back = readFile(f.back);
    ASSERT_EQ(back.size(), 66u);
    EXPECT_EQ(get32(back, 2), 66u);
    EXPECT_EQ(get32(back, 34), 12u);
    EXPECT_EQ(Bytes(back.begin() + 54, back.end()), (Bytes{10, 20, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(FileFormat, EmptyPictureStillMakesAFile) {
    roundTrip(makeBmp(0, 0, 24, Bytes(), Bytes()), "no data bytes");
    Files f;
    writeFile(f.bmp, makeBmp(0, 0, 24, Bytes(), Bytes()));
    auto codec = std::make_unique<VekCodec>();
    ASSERT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    EXPECT_GT(readFile(f.vek).size(), 12u);
    ASSERT_EQ(codec->decodeFile(f.vek.c_str(), f.back.c_str()), 1);
    EXPECT_EQ(readFile(f.back).size(), 54u);
    ASSERT_EQ(codec->loadFile(f.vek.c_str()), 1);
    EXPECT_EQ(codec->getImageLength(), 0);
    EXPECT_NE(codec->getImage(), nullptr);
}

TEST(FileFormat, EncodingIsDeterministic) {
    Files f;
    writeFile(f.bmp, makeBmp(200, 150, 24, Bytes(), smoothPixels(200, 150, 24, 3)));
    auto codec = std::make_unique<VekCodec>();
    ASSERT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    const Bytes first = readFile(f.vek);
    auto other = std::make_unique<VekCodec>();
    ASSERT_EQ(other->encodeFile(f.bmp.c_str(), f.back.c_str()), 1);
    EXPECT_EQ(readFile(f.back), first);
    ASSERT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    EXPECT_EQ(readFile(f.vek), first);
}

// Each refused picture leaves an empty output and names its reason through
// the codec (file and memory doors alike) and the converter, whose standard
// output stays "faild..." and exit code 1.
TEST(EncoderCheck, RefusedPicturesLeaveAnEmptyOutputAndNameTheirReason) {
    const Bytes px = randomBytes(4 * 4 * 4, 1);
    struct Case {
        const char *what;
        Bytes file;
        int reason;
    };
    auto patched = [](Bytes b, size_t at, std::initializer_list<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
        return b;
    };
    const Bytes good = makeBmp(4, 4, 32, Bytes(), px);
    Bytes truncatedRows = good;
    truncatedRows.resize(good.size() - 1);
    const Bytes pal8 = makeBmp(4, 4, 8, greyPalette(256), Bytes(16, 3));
    const std::vector<Case> cases = {
        {"not BM", patched(good, 0, {'B', 'A'}), VEK_FAILURE_NOT_BMP},
        {"run-length compressed", patched(good, 30, {1}), VEK_FAILURE_COMPRESSED_BMP},
        {"bitfields", patched(good, 30, {3}), VEK_FAILURE_COMPRESSED_BMP},
        {"offset 65,536", patched(good, 10, {0x00, 0x00, 0x01, 0x00}), VEK_FAILURE_TOO_LARGE},
        {"offset below 54", patched(good, 10, {53, 0, 0, 0}), VEK_FAILURE_BMP_HEADER},
        {"4 bits per pixel", makeBmp(8, 4, 4, greyPalette(16), Bytes(16, 0x12)), VEK_FAILURE_BIT_COUNT},
        {"1 bit per pixel", makeBmp(8, 4, 1, greyPalette(2), Bytes(16, 0xA5)), VEK_FAILURE_BIT_COUNT},
        {"12 bits per pixel", patched(good, 28, {12}), VEK_FAILURE_BIT_COUNT},
        {"256 bits per pixel", patched(good, 28, {0, 1}), VEK_FAILURE_BIT_COUNT},
        {"top-down rows", makeBmp(4, -4, 32, Bytes(), px), VEK_FAILURE_TOP_DOWN},
        {"width 65,536", patched(good, 18, {0x00, 0x00, 0x01, 0x00}), VEK_FAILURE_TOO_LARGE},
        {"height 65,536", patched(good, 22, {0x00, 0x00, 0x01, 0x00}), VEK_FAILURE_TOO_LARGE},
        {"info header of 12 bytes", patched(good, 14, {12}), VEK_FAILURE_BMP_HEADER},
        {"8 bits, info header reaching past the colour table", patched(pal8, 14, {0x00, 0x10}),
         VEK_FAILURE_BMP_HEADER},
        {"rows cut short", truncatedRows, VEK_FAILURE_SHORT_BMP},
        {"shorter than its headers", Bytes(good.begin(), good.begin() + 53), VEK_FAILURE_SHORT_BMP},
        {"empty file", Bytes(), VEK_FAILURE_NOT_BMP},
        {"data size beyond 31 bits", patched(makeBmp(60000, 60000, 32, Bytes(), Bytes()), 0, {'B', 'M'}),
         VEK_FAILURE_TOO_LARGE},
    };
    auto codec = std::make_unique<VekCodec>();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Files f;
        writeFile(f.bmp, c.file);
        EXPECT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 0);
        EXPECT_EQ(codec->getLastFailure(), c.reason);
        EXPECT_TRUE(fileExists(f.vek));
        EXPECT_EQ(readFile(f.vek).size(), 0u);
        Bytes out(1 << 16);
        uint32_t size = static_cast<uint32_t>(out.size());
        const uint8_t none = 0;
        const uint8_t *bytes = c.file.empty() ? &none : c.file.data();
        EXPECT_EQ(codec->encodeMemory(bytes, static_cast<uint32_t>(c.file.size()), out.data(), &size), 0);
        EXPECT_EQ(codec->getLastFailure(), c.reason);

#if !defined(_WIN32)
        // The converter through a POSIX shell; the Windows build's
        // converter gets its reason lines from the converter tests run
        // against it (tests/windows).
        const RunResult r =
            runCapturingErrors(quote(std::string(VEK_BIN_DIR) + "/vekconv") + " e " + quote(f.bmp) + " " + quote(f.vek));
        EXPECT_EQ(r.exitCode, 1);
        ASSERT_GE(r.output.size(), 28u) << r.output;
        EXPECT_EQ(r.output.substr(r.output.size() - 28), "compressing to VEK\nfaild...\n");
        EXPECT_EQ(r.errors, std::string("vekconv: ") + vekFailureText(c.reason) + "\n");
#endif
    }
    // The good one passes, also with a 65,535-byte header area, and its
    // success clears the reason.
    Files f;
    writeFile(f.bmp, makeBmp(4, 4, 32, Bytes(65535 - 54, 0x33), px));
    EXPECT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_NONE);
}

TEST(EncoderCheck, MissingInputCreatesNothing) {
    Files f;
    auto codec = std::make_unique<VekCodec>();
    EXPECT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OPEN_INPUT);
    EXPECT_FALSE(fileExists(f.vek));
    EXPECT_EQ(codec->decodeFile(f.vek.c_str(), f.back.c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OPEN_INPUT);
    EXPECT_FALSE(fileExists(f.back));
    EXPECT_EQ(codec->loadFile(f.vek.c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OPEN_INPUT);
}

TEST(DecoderCheck, FilesNoEncoderWritesAreRefusedBeforeAnyOutput) {
    Files f;
    writeFile(f.bmp, makeBmp(16, 16, 8, greyPalette(256), randomBytes(256, 2, 16)));
    auto codec = std::make_unique<VekCodec>();
    ASSERT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    const Bytes good = readFile(f.vek);
    ASSERT_EQ(codec->loadFile(f.vek.c_str()), 1);
    const Bytes picture(codec->getImage(), codec->getImage() + codec->getImageLength());

    struct Case {
        const char *what;
        Bytes file;
        int reason;
    };
    std::vector<Case> cases;
    cases.push_back({"cut within the header", Bytes(good.begin(), good.begin() + 11), VEK_FAILURE_DAMAGED_VEK});
    cases.push_back({"three bytes", Bytes(good.begin(), good.begin() + 3), VEK_FAILURE_NOT_VEK});
    Bytes magic = good;
    magic[3] = '?';
    cases.push_back({"wrong magic", magic, VEK_FAILURE_NOT_VEK});
    Bytes factor = good;
    factor[6] = 0;
    cases.push_back({"block factor 0", factor, VEK_FAILURE_NOT_VEK});
    Bytes huge = good;
    huge[7] = 255;  // 31 bytes a pixel
    huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;
    cases.push_back({"data size beyond 32 bits", huge, VEK_FAILURE_NOT_VEK});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = f.dir.file("bad.vek"), out = f.dir.file("bad.bmp");
        writeFile(path, c.file);
        EXPECT_EQ(codec->decodeFile(path.c_str(), out.c_str()), 0);
        EXPECT_EQ(codec->getLastFailure(), c.reason);
        EXPECT_FALSE(fileExists(out));
        EXPECT_EQ(codec->loadFile(path.c_str()), 0);
        EXPECT_EQ(codec->getLastFailure(), c.reason);
        ASSERT_NE(codec->getImage(), nullptr) << "the previous picture stays";
        EXPECT_EQ(Bytes(codec->getImage(), codec->getImage() + codec->getImageLength()), picture);
        // The memory doors read the same header.
        const uint32_t size = static_cast<uint32_t>(c.file.size());
        EXPECT_EQ(codec->getDecodedSize(c.file.data(), size), 0u);
        EXPECT_EQ(codec->getLastFailure(), c.reason);
        Bytes bmp(1 << 16);
        uint32_t bmpSize = static_cast<uint32_t>(bmp.size());
        EXPECT_EQ(codec->decodeMemory(c.file.data(), size, bmp.data(), &bmpSize), 0);
        EXPECT_EQ(codec->getLastFailure(), c.reason);
        EXPECT_EQ(codec->loadMemory(c.file.data(), size), 0);
        EXPECT_EQ(codec->getLastFailure(), c.reason);
    }
}

TEST(DecoderCheck, RestoredDataMustMatchTheHeadersSize) {
    Files f;
    writeFile(f.bmp, makeBmp(16, 16, 24, Bytes(), smoothPixels(16, 16, 24, 8)));
    auto codec = std::make_unique<VekCodec>();
    ASSERT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
    const Bytes good = readFile(f.vek);
    for (int height : {15, 17}) {
        SCOPED_TRACE(height);
        Bytes changed = good;
        changed[10] = static_cast<uint8_t>(height);
        writeFile(f.vek, changed);
        EXPECT_EQ(codec->decodeFile(f.vek.c_str(), f.back.c_str()), 0);
        EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_DAMAGED_VEK);
        EXPECT_FALSE(fileExists(f.back)) << "an incomplete output is removed";
        EXPECT_EQ(codec->loadFile(f.vek.c_str()), 0);
        EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_DAMAGED_VEK);
        EXPECT_EQ(codec->getImage(), nullptr);
    }
}

TEST(RoundTrip, EveryAcceptedKindOfPicture) {
    for (uint32_t w = 1; w <= 9; ++w) {
        for (uint16_t bits : {8, 16, 24, 32}) {
            const uint32_t h = 1 + (w * 3) % 7;
            const Bytes palette = bits == 8 ? greyPalette(w % 2 ? 256 : 16) : Bytes();
            roundTrip(makeBmp(static_cast<int32_t>(w), static_cast<int32_t>(h), bits, palette,
                              randomBytes(bmpRowBytes(w, bits) * h, w * bits, w % 3 ? 256 : 3)),
                      "w " + std::to_string(w) + ", " + std::to_string(bits) + " bits");
        }
    }
    roundTrip(makeBmp(333, 111, 8, greyPalette(256), smoothPixels(333, 111, 8, 2)), "grey photo");
    roundTrip(makeBmp(257, 130, 16, Bytes(), smoothPixels(257, 130, 16, 3)), "16-bit photo");
    roundTrip(makeBmp(401, 203, 32, Bytes(), smoothPixels(401, 203, 32, 4)), "32-bit photo");
    // Longer info header on a 24-bit picture: the extra bytes travel as data.
    Bytes v4 = makeBmp(9, 5, 24, Bytes(68, 0x11), randomBytes(bmpRowBytes(9, 24) * 5, 6));
    v4[14] = 108;
    roundTrip(v4, "info header of 108 bytes");
}

namespace {

// The .vek bytes the encoder writes for a BMP file image.
Bytes encodedFromMemory(const Bytes &picture) {
    auto codec = std::make_unique<VekCodec>();
    Bytes coded(codec->getEncodeBound(static_cast<uint32_t>(picture.size())));
    uint32_t size = static_cast<uint32_t>(coded.size());
    EXPECT_EQ(codec->encodeMemory(picture.data(), static_cast<uint32_t>(picture.size()), coded.data(), &size), 1);
    coded.resize(size);
    return coded;
}

// The same 8-bit picture with an info header of `infoSize` bytes: the
// fields past the first 40 are filled in, the colour table follows them.
Bytes withLongerInfoHeader(Bytes bmp, uint32_t infoSize) {
    const uint32_t extra = infoSize - 40;
    bmp.insert(bmp.begin() + 54, extra, 0x5A);
    auto put32 = [&bmp](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) bmp[at + k] = static_cast<uint8_t>(v >> (8 * k));
    };
    put32(2, get32(bmp, 2) + extra);
    put32(10, get32(bmp, 10) + extra);
    put32(14, infoSize);
    return bmp;
}

} // namespace

// 8-bit pictures with the info headers of today's tools (108 and 124
// bytes): the encoder skips the header's extra bytes, so the .vek file is the
// one of the same picture with a 40-byte header, and it restores the same
// colour table and pixels.
TEST(RoundTrip, EightBitPicturesWithLongerInfoHeaders) {
    const Bytes pixels = smoothPixels(37, 21, 8, 5);
    Bytes shortTable = makeBmp(37, 21, 8, greyPalette(16), pixels);
    shortTable[46] = 16;  // biClrUsed
    Bytes gap = greyPalette(16);
    gap.insert(gap.end(), 6, 0xEE);  // bytes between the colour table and the rows
    const std::pair<const char *, Bytes> pictures[] = {
        {"full colour table", makeBmp(37, 21, 8, greyPalette(256), pixels)},
        {"short colour table", shortTable},
        {"colour table and a gap", makeBmp(37, 21, 8, gap, pixels)},
    };
    for (const auto &p : pictures) {
        const Bytes coded = roundTrip(p.second, p.first);
        for (uint32_t infoSize : {108u, 124u}) {
            SCOPED_TRACE(std::string(p.first) + ", info header " + std::to_string(infoSize));
            const Bytes longer = withLongerInfoHeader(p.second, infoSize);
            Files f;
            writeFile(f.bmp, longer);
            auto codec = std::make_unique<VekCodec>();
            ASSERT_EQ(codec->encodeFile(f.bmp.c_str(), f.vek.c_str()), 1);
            EXPECT_EQ(readFile(f.vek), coded);
            EXPECT_EQ(encodedFromMemory(longer), coded);
        }
    }
    // The sample suite's versions of one picture: the same .vek file.
    const std::string suite = std::string(VEK_TEST_DATA_DIR) + "/bmpsuite/g/";
    const Bytes plain = encodedFromMemory(readFile(suite + "pal8.bmp"));
    EXPECT_EQ(encodedFromMemory(readFile(suite + "pal8v4.bmp")), plain);
    EXPECT_EQ(encodedFromMemory(readFile(suite + "pal8v5.bmp")), plain);
}

TEST(RoundTrip, SeveralBlocksAndAFullLastBlock) {
    // About 3.6 MB of data: two blocks of block factor 220.
    const Bytes big = roundTrip(makeBmp(1100, 1100, 24, Bytes(), smoothPixels(1100, 1100, 24, 5)), "several blocks");
    EXPECT_GT(big[6], 126);
    // 8,173 data bytes with no equal neighbours fill the first block exactly
    // (block factor 1 closes at 8,173 bytes); the marker comes alone after it.
    Bytes palette(173);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i % 2 ? 5 : 6);
    Bytes pixels(8000);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i % 2 ? 7 : 8);
    const Bytes full = roundTrip(makeBmp(4, 2000, 8, palette, pixels), "full last block");
    EXPECT_EQ(full[6], 1);
}
