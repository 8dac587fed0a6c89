// Encoder driver: checks the BMP headers and runs the coding stages block by
// block into a .vek file.
#include <cstdint>

#include "block_sort.h"
#include "vek_codec.h"
#include "work_buffers.h"

namespace {

const uint32_t MAX_DIMENSION = 65535;
const uint32_t INFO_HEADER_SIZE = 40;

bool acceptedBitCount(uint32_t bitCount) {
    return bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

} // namespace

int VekCodec::checkBitmapHeader(platform::FileHandle input) {
    uint8_t bytes[BMP_HEADERS_SIZE];
    size_t got = 0;
    const int64_t fileLength = platform::fileSize(input);
    if (fileLength < static_cast<int64_t>(BMP_HEADERS_SIZE)) return 0;
    if (!platform::readFile(input, bytes, sizeof(bytes), &got) || got != sizeof(bytes)) return 0;
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    unpackBitmapHeaders(bytes, &file, &info);

    // What the format can carry at all.
    if (file.bfType != BMP_SIGNATURE) return 0;
    if (info.biCompression != 0) return 0;
    if (file.bfOffBits >= 65536) return 0;
    if (info.biBitCount >= 256) return 0;

    // What it can give back exactly: whole-byte pixels, 16-bit sizes, rows
    // stored bottom-up, the colour table where the rebuilt header puts it.
    if (!acceptedBitCount(info.biBitCount)) return 0;
    if (file.bfOffBits < BMP_HEADERS_SIZE) return 0;
    if (info.biSize < INFO_HEADER_SIZE) return 0;
    if (info.biBitCount == 8 && info.biSize > INFO_HEADER_SIZE) return 0;
    if (info.biHeight < 0) return 0;
    const int64_t width = info.biWidth < 0 ? -static_cast<int64_t>(info.biWidth) : info.biWidth;
    const int64_t height = info.biHeight;
    if (width > MAX_DIMENSION || height > MAX_DIMENSION) return 0;

    // The file must hold its colour table and its pixel rows.
    const int64_t rowBytes = (width * info.biBitCount + 31) / 32 * 4;
    if (fileLength < static_cast<int64_t>(file.bfOffBits) + rowBytes * height) return 0;

    VekFileHeader h;
    for (int k = 0; k < 4; ++k) h.magic[k] = VEK_MAGIC[k];
    h.paletteSize = static_cast<uint16_t>(file.bfOffBits - BMP_HEADERS_SIZE);
    h.blockFactor = 0;
    h.bitCount = static_cast<uint8_t>(info.biBitCount);
    h.width = static_cast<uint16_t>(width);
    h.height = static_cast<uint16_t>(height);
    const uint64_t n = dataSizeOf(h);
    if (n > static_cast<uint64_t>(INT32_MAX)) return 0;

    header = h;
    dataSize = static_cast<int32_t>(n);
    remaining = dataSize;
    if (!platform::seekFromStart(input, BMP_HEADERS_SIZE)) return 0;
    return 1;
}

int VekCodec::encodeStream(platform::FileHandle input, platform::FileHandle output) {
    if (!checkBitmapHeader(input)) return 0;
    chooseBlockFactor();
    allocEncoderWorkspace(*this);
    header.blockFactor = static_cast<uint8_t>(BlockFactor);
    uint8_t headerBytes[VEK_HEADER_SIZE];
    packVekHeader(header, headerBytes);
    startEncoder(output, headerBytes);
    sortSizeClasses[9] = BlockFactor * BLOCK_UNIT;

    // The picture's data bytes are read through a buffer from offset 54 on.
    pictureFile = input;
    inAvail = 0;
    inFilled = 0;

    int isLast;
    do {
        isLast = fillBlock();
        sortBlock();
        findPrimaryIndex();
        encodeBlockSymbols(isLast);
    } while (!isLast);
    finishEncoder();
    freeEncoderWorkspace();
    return 1;
}
