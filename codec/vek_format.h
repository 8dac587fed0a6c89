// The .vek file format: its 12-byte header, the data size rule and the block
// numbers, and the BMP headers at the codec's edges (their little-endian
// layout, and the headers a decoder restores from a .vek header).
#ifndef VEK_CODEC_VEK_FORMAT_H
#define VEK_CODEC_VEK_FORMAT_H

#include <cstdint>

#include "vek/vek.h"

const uint32_t VEK_HEADER_SIZE = 12;
const uint32_t BMP_HEADERS_SIZE = 54;  // file header (14) + info header (40)
const uint16_t BMP_SIGNATURE = 0x4D42; // "BM"
const uint8_t VEK_MAGIC[4] = {0x56, 0x45, 0x4B, 0x21}; // "VEK!"

// Blocks: the capacity C of a block is blockFactor x BLOCK_UNIT pre-coded
// bytes, blockFactor from 1 to MAX_BLOCK_FACTOR. A block is closed after the
// first whole run that brings its length to C - BLOCK_CLOSE_SHORTFALL bytes
// or more, so every block but the last holds at least that many, and at
// most C - BLOCK_CLOSE_SHORTFALL - 1 + 5 (a run adds at most five bytes).
const uint32_t BLOCK_UNIT = 8192;
const uint32_t MAX_BLOCK_FACTOR = 255;
const uint32_t BLOCK_CLOSE_SHORTFALL = 19;

// The header of a .vek file as the codec keeps it.
struct VekFileHeader {
    uint8_t magic[4];
    uint16_t paletteSize;
    uint8_t blockFactor;
    uint8_t bitCount;
    uint16_t width;
    uint16_t height;
};

// Serialises the header to its 12 file bytes, and back.
void packVekHeader(const VekFileHeader &header, uint8_t out[VEK_HEADER_SIZE]);
VekFileHeader unpackVekHeader(const uint8_t in[VEK_HEADER_SIZE]);

// S: (width rounded up to 4) x whole bytes per pixel x height, in 64 bits so
// that callers can tell a size that does not fit.
uint64_t pixelDataSize(uint32_t width, uint32_t bitCount, uint32_t height);

// N: paletteSize + S.
uint64_t dataSizeOf(const VekFileHeader &header);

// The two headers of the BMP file a .vek header restores (every field from
// the .vek header alone).
void restoredBitmapHeaders(const VekFileHeader &header, BITMAPFILEHEADER *file, BITMAPINFOHEADER *info);

// The BMP headers from and to their 54 little-endian file bytes.
void unpackBitmapHeaders(const uint8_t in[BMP_HEADERS_SIZE], BITMAPFILEHEADER *file, BITMAPINFOHEADER *info);
void packBitmapHeaders(const BITMAPFILEHEADER &file, const BITMAPINFOHEADER &info, uint8_t out[BMP_HEADERS_SIZE]);

#endif
