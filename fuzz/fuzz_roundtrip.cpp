// Fuzz target: every BMP file that encodeFile accepts must come back with the
// same N data bytes, through decodeFile and through loadFile alike.
//
// Input that starts with "BM" is taken as a whole BMP file. Any other input
// describes a picture: its first byte picks the bit count and the size of the
// colour table, the next two the width; the rest are the colour table and the
// pixel rows, and as many whole rows are made as they fill (at least one,
// padded with zeros). That way most inputs reach the coding stages.
#include <algorithm>

#include "fuzz_common.h"

namespace {

void put16(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

std::vector<uint8_t> describedPicture(const uint8_t *data, size_t size) {
    static const uint16_t BIT_COUNTS[4] = {8, 16, 24, 32};
    const uint8_t shape = size > 0 ? data[0] : 0;
    const uint16_t bitCount = BIT_COUNTS[shape & 3];
    // 8-bit pictures carry 0 to 256 colour entries, the others up to 12
    // extra header bytes (a longer info header travels as opaque bytes).
    const uint32_t extra = bitCount == 8 ? 4u * ((shape >> 2) * 256u / 63u) : 4u * ((shape >> 2) % 4);
    const uint32_t width = size > 2 ? 1u + (data[1] | (data[2] & 0x01) << 8) : 1u;
    const size_t body = size > 3 ? size - 3 : 0;
    const uint32_t row = (width * bitCount + 31) / 32 * 4;
    const size_t pixels = body > extra ? body - extra : 0;
    const uint32_t height = pixels / row > 0 ? static_cast<uint32_t>(pixels / row) : 1u;

    std::vector<uint8_t> bmp(BMP_HEADERS_SIZE + extra + static_cast<size_t>(row) * height, 0);
    put16(bmp, 0, BMP_SIGNATURE);
    put32(bmp, 2, static_cast<uint32_t>(bmp.size()));
    put32(bmp, 10, BMP_HEADERS_SIZE + extra);
    put32(bmp, 14, bitCount == 8 ? 40 : 40 + extra);
    put32(bmp, 18, width);
    put32(bmp, 22, height);
    put16(bmp, 26, 1);
    put16(bmp, 28, bitCount);
    put32(bmp, 34, row * height);
    if (body > 0) std::memcpy(&bmp[BMP_HEADERS_SIZE], data + 3, std::min(body, bmp.size() - BMP_HEADERS_SIZE));
    return bmp;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace fuzz;
    std::vector<uint8_t> bmp;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        bmp.assign(data, data + size);
    else
        bmp = describedPicture(data, size);

    const std::string in = scratchPath("in");
    const std::string out = scratchPath("out");
    const std::string back = scratchPath("back");
    writeWholeFile(in, bmp.data(), bmp.size());
    ::unlink(back.c_str());

    Codec codec;
    if (codec->encodeFile(in.c_str(), out.c_str()) != 1) return 0;
    checkWorkspaceReleased(codec);

    std::vector<uint8_t> coded;
    FUZZ_CHECK(readWholeFile(out, &coded) && coded.size() > VEK_HEADER_SIZE);
    const VekFileHeader h = unpackVekHeader(coded.data());
    const uint64_t n = dataSizeOf(h);
    // The data bytes: everything after the headers, zeros past the end of
    // the file.
    std::vector<uint8_t> expected(static_cast<size_t>(n), 0);
    const size_t start = bmpDataOffset(bmp.data());
    if (n > 0 && bmp.size() > start)
        std::memcpy(expected.data(), &bmp[start], std::min<size_t>(n, bmp.size() - start));

    FUZZ_CHECK(codec->decodeFile(out.c_str(), back.c_str()) == 1);
    checkWorkspaceReleased(codec);
    std::vector<uint8_t> restored;
    FUZZ_CHECK(readWholeFile(back, &restored));
    FUZZ_CHECK(restored.size() == BMP_HEADERS_SIZE + n);
    FUZZ_CHECK(n == 0 || std::memcmp(restored.data() + BMP_HEADERS_SIZE, expected.data(), expected.size()) == 0);

    FUZZ_CHECK(codec->loadFile(out.c_str()) == 1);
    checkWorkspaceReleased(codec);
    FUZZ_CHECK(static_cast<uint64_t>(codec->getImageLength()) == n);
    FUZZ_CHECK(n == 0 || std::memcmp(codec->getImage(), expected.data(), expected.size()) == 0);
    return 0;
}
