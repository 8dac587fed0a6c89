#include "vek_format.h"

#include <cstring>

namespace {

void put16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t *p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

uint16_t get16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t get32(const uint8_t *p) {
    return static_cast<uint32_t>(get16(p)) | (static_cast<uint32_t>(get16(p + 2)) << 16);
}

} // namespace

void packVekHeader(const VekFileHeader &header, uint8_t out[VEK_HEADER_SIZE]) {
    std::memcpy(out, header.magic, 4);
    put16(out + 4, header.paletteSize);
    out[6] = header.blockFactor;
    out[7] = header.bitCount;
    put16(out + 8, header.width);
    put16(out + 10, header.height);
}

VekFileHeader unpackVekHeader(const uint8_t in[VEK_HEADER_SIZE]) {
    VekFileHeader h;
    std::memcpy(h.magic, in, 4);
    h.paletteSize = get16(in + 4);
    h.blockFactor = in[6];
    h.bitCount = in[7];
    h.width = get16(in + 8);
    h.height = get16(in + 10);
    return h;
}

uint64_t pixelDataSize(uint32_t width, uint32_t bitCount, uint32_t height) {
    return static_cast<uint64_t>((width + 3) & ~3u) * (bitCount / 8) * height;
}

uint64_t dataSizeOf(const VekFileHeader &header) {
    return header.paletteSize + pixelDataSize(header.width, header.bitCount, header.height);
}

void unpackBitmapHeaders(const uint8_t in[BMP_HEADERS_SIZE], BITMAPFILEHEADER *file, BITMAPINFOHEADER *info) {
    file->bfType = get16(in + 0);
    file->bfSize = get32(in + 2);
    file->bfReserved1 = get16(in + 6);
    file->bfReserved2 = get16(in + 8);
    file->bfOffBits = get32(in + 10);
    const uint8_t *i = in + 14;
    info->biSize = get32(i + 0);
    info->biWidth = static_cast<int32_t>(get32(i + 4));
    info->biHeight = static_cast<int32_t>(get32(i + 8));
    info->biPlanes = get16(i + 12);
    info->biBitCount = get16(i + 14);
    info->biCompression = get32(i + 16);
    info->biSizeImage = get32(i + 20);
    info->biXPelsPerMeter = static_cast<int32_t>(get32(i + 24));
    info->biYPelsPerMeter = static_cast<int32_t>(get32(i + 28));
    info->biClrUsed = get32(i + 32);
    info->biClrImportant = get32(i + 36);
}

void packBitmapHeaders(const BITMAPFILEHEADER &file, const BITMAPINFOHEADER &info, uint8_t out[BMP_HEADERS_SIZE]) {
    put16(out + 0, file.bfType);
    put32(out + 2, file.bfSize);
    put16(out + 6, file.bfReserved1);
    put16(out + 8, file.bfReserved2);
    put32(out + 10, file.bfOffBits);
    uint8_t *i = out + 14;
    put32(i + 0, info.biSize);
    put32(i + 4, static_cast<uint32_t>(info.biWidth));
    put32(i + 8, static_cast<uint32_t>(info.biHeight));
    put16(i + 12, info.biPlanes);
    put16(i + 14, info.biBitCount);
    put32(i + 16, info.biCompression);
    put32(i + 20, info.biSizeImage);
    put32(i + 24, static_cast<uint32_t>(info.biXPelsPerMeter));
    put32(i + 28, static_cast<uint32_t>(info.biYPelsPerMeter));
    put32(i + 32, info.biClrUsed);
    put32(i + 36, info.biClrImportant);
}

void restoredBitmapHeaders(const VekFileHeader &header, BITMAPFILEHEADER *file, BITMAPINFOHEADER *info) {
    const uint32_t s = static_cast<uint32_t>(pixelDataSize(header.width, header.bitCount, header.height));
    file->bfType = BMP_SIGNATURE;
    file->bfSize = BMP_HEADERS_SIZE + header.paletteSize + s;
    file->bfReserved1 = 0;
    file->bfReserved2 = 0;
    file->bfOffBits = BMP_HEADERS_SIZE + header.paletteSize;
    info->biSize = 40;
    info->biWidth = header.width;
    info->biHeight = header.height;
    info->biPlanes = 1;
    info->biBitCount = header.bitCount;
    info->biCompression = 0;
    info->biSizeImage = s;
    info->biXPelsPerMeter = 0;
    info->biYPelsPerMeter = 0;
    info->biClrUsed = 0;
    info->biClrImportant = 0;
}
