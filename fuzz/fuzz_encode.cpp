// Fuzz target: any bytes offered to the encoder as a BMP file (the header
// check, then encodeFile), and the same bytes to encodeMemory, whose result
// and bytes must be those of the file, within its bound.
//
// A refused file leaves an empty output (or none) and result 0; an accepted
// one gives a .vek file whose header describes the picture. Nothing crashes
// and no work buffer survives the operation.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace fuzz;
    const std::string in = scratchPath("in");
    const std::string out = scratchPath("out");
    writeWholeFile(in, data, size);
    ::unlink(out.c_str());

    Codec codec;
    const int result = codec->encodeFile(in.c_str(), out.c_str());
    checkWorkspaceReleased(codec);
    FUZZ_CHECK(result == 0 || result == 1);
    std::vector<uint8_t> coded;
    const bool written = readWholeFile(out, &coded);

    const uint32_t bound = codec->getEncodeBound(static_cast<uint32_t>(size));
    std::vector<uint8_t> memory(static_cast<size_t>(bound) + 1, 0xA5);
    uint32_t memorySize = bound;
    const int memoryResult = codec->encodeMemory(data, static_cast<uint32_t>(size), memory.data(), &memorySize);
    checkWorkspaceReleased(codec);
    FUZZ_CHECK(memoryResult == result);
    FUZZ_CHECK(memory[bound] == 0xA5);
    if (result == 1) {
        FUZZ_CHECK(memorySize == coded.size() && memorySize <= bound);
        FUZZ_CHECK(std::memcmp(memory.data(), coded.data(), coded.size()) == 0);
    }

    if (result == 0) {
        FUZZ_CHECK(!written || coded.empty());
        return 0;
    }

    // What the header check promises about an accepted file.
    FUZZ_CHECK(size >= BMP_HEADERS_SIZE);
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    unpackBitmapHeaders(data, &file, &info);
    FUZZ_CHECK(file.bfType == BMP_SIGNATURE && info.biCompression == 0);
    FUZZ_CHECK(info.biBitCount == 8 || info.biBitCount == 16 || info.biBitCount == 24 || info.biBitCount == 32);
    FUZZ_CHECK(file.bfOffBits >= BMP_HEADERS_SIZE && file.bfOffBits < 65536);
    FUZZ_CHECK(info.biSize >= 40 && info.biHeight >= 0);

    FUZZ_CHECK(written && coded.size() > VEK_HEADER_SIZE);
    const VekFileHeader h = unpackVekHeader(coded.data());
    FUZZ_CHECK(std::memcmp(h.magic, VEK_MAGIC, 4) == 0);
    FUZZ_CHECK(h.blockFactor >= 1);
    FUZZ_CHECK(h.bitCount == info.biBitCount);
    FUZZ_CHECK(h.paletteSize == file.bfOffBits - bmpDataOffset(data));
    FUZZ_CHECK(h.height == static_cast<uint32_t>(info.biHeight));
    FUZZ_CHECK(h.width == static_cast<uint32_t>(info.biWidth < 0 ? -static_cast<int64_t>(info.biWidth) : info.biWidth));
    return 0;
}
