#include "test_bmp.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

void put16(std::vector<uint8_t> &b, size_t at, uint16_t v) {
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = uint8_t(v >> (8 * i));
}

uint32_t get32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}

Rgb testColour(int index) {
    return Rgb{uint8_t(index * 37 + 11), uint8_t(255 - index), uint8_t(index * 101 + 7)};
}

uint32_t testIndex(int x, int y) {
    return uint32_t((x * 7 + y * 13) % 256);
}

uint32_t testRgb(int x, int y) {
    return uint32_t((x * 29 + 3) % 256) << 16 | uint32_t((y * 53 + 5) % 256) << 8 | uint32_t((x * y + 1) % 256);
}

std::vector<uint8_t> makeBmp(const BmpLayout &layout) {
    const int absH = layout.height < 0 ? -layout.height : layout.height;
    const int absW = layout.width < 0 ? -layout.width : layout.width;
    int entries = layout.tableEntries;
    if (entries < 0) entries = layout.clrUsed ? int(layout.clrUsed) : (layout.bitCount <= 8 ? 1 << layout.bitCount : 0);
    const size_t rowSize = (size_t(absW) * layout.bitCount + 31) / 32 * 4;
    const size_t offBits = 14 + layout.infoSize + 4 * size_t(entries) + layout.gapBytes;
    const size_t total = offBits + rowSize * absH;
    std::vector<uint8_t> b(total, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, uint32_t(total));
    put32(b, 10, uint32_t(offBits));
    put32(b, 14, layout.infoSize);
    put32(b, 18, uint32_t(layout.width));
    put32(b, 22, uint32_t(layout.height));
    put16(b, 26, 1);
    put16(b, 28, layout.bitCount);
    put32(b, 30, layout.compression);
    put32(b, 34, uint32_t(rowSize * absH));
    put32(b, 46, layout.clrUsed);
    auto colour = layout.colour ? layout.colour : testColour;
    for (int i = 0; i < entries; ++i) {
        const Rgb c = colour(i);
        const size_t at = 14 + layout.infoSize + 4 * size_t(i);
        b[at] = c.b;
        b[at + 1] = c.g;
        b[at + 2] = c.r;
    }
    auto pixel = layout.pixel ? layout.pixel : (layout.bitCount == 24 ? testRgb : testIndex);
    for (int y = 0; y < absH; ++y) {
        // Bottom-up unless the height is negative.
        const int stored = layout.height > 0 ? absH - 1 - y : y;
        uint8_t *row = b.data() + offBits + rowSize * stored;
        for (int x = 0; x < absW; ++x) {
            const uint32_t v = pixel(x, y);
            if (layout.bitCount == 24) {
                row[3 * x] = uint8_t(v);
                row[3 * x + 1] = uint8_t(v >> 8);
                row[3 * x + 2] = uint8_t(v >> 16);
            } else if (layout.bitCount == 8) {
                row[x] = uint8_t(v);
            }
        }
    }
    return b;
}

std::vector<uint8_t> readFileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}
