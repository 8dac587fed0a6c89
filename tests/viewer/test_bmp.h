// Builds BMP files in memory for the viewer tests.
#ifndef SORVU_TESTS_TEST_BMP_H
#define SORVU_TESTS_TEST_BMP_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

// What goes into a test BMP. The pixel function gives, for (x, y) with y
// counted from the top row, the palette index (8 bits) or the colour
// (24 bits, as 0xRRGGBB).
struct BmpLayout {
    int32_t width = 8;
    int32_t height = 4;
    uint16_t bitCount = 8;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;      // written into the header
    int tableEntries = -1;     // entries actually written; -1: as the header implies
    uint32_t gapBytes = 0;     // zero bytes between the colour table and the rows
    uint32_t infoSize = 40;
    std::function<uint32_t(int x, int y)> pixel;
    std::function<Rgb(int index)> colour; // colour-table entry i
};

std::vector<uint8_t> makeBmp(const BmpLayout &layout);

// Default colour-table entry and pixel pattern used by most tests: every
// index has its own colour, and neighbouring pixels differ.
Rgb testColour(int index);
uint32_t testIndex(int x, int y);
uint32_t testRgb(int x, int y);

// Little-endian patching of a built file.
void put16(std::vector<uint8_t> &b, size_t at, uint16_t v);
void put32(std::vector<uint8_t> &b, size_t at, uint32_t v);
uint32_t get32(const std::vector<uint8_t> &b, size_t at);

std::vector<uint8_t> readFileBytes(const std::string &path);
void writeFileBytes(const std::string &path, const std::vector<uint8_t> &bytes);

#endif
