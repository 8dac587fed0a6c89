// Deterministic pictures and blocks for the block sort tests: the kinds of
// data that take the sort's different paths (photo-like, screenshot-like,
// palette, flat colour, and periodic blocks of many periods).
#ifndef VEK_TESTS_SORT_TEST_PICTURES_H
#define VEK_TESTS_SORT_TEST_PICTURES_H

#include <cstdint>
#include <string>
#include <vector>

namespace sortpictures {

typedef std::vector<uint8_t> Bytes;

// A small xorshift generator, the same on every platform.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {
        if (state_ == 0) state_ = 1;
    }
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    uint32_t below(uint32_t bound) { return next() % bound; }

private:
    uint32_t state_;
};

// A BMP file (bottom-up, uncompressed) with the given colour table and rows;
// `pixels` must hold height rows of the BMP row length.
Bytes makeBmp(uint32_t width, uint32_t height, uint16_t bitCount, const Bytes &palette, const Bytes &pixels);

// Row length of a BMP row: width x bits, rounded up to 4 bytes.
uint32_t rowBytes(uint32_t width, uint32_t bitCount);

// Whole BMP files of a few kinds.
Bytes photoPicture(uint32_t width, uint32_t height, uint16_t bitCount, uint32_t seed);
Bytes screenshotPicture(uint32_t width, uint32_t height, uint32_t seed);
Bytes palettePicture(uint32_t width, uint32_t height, uint32_t seed);
Bytes flatColourPicture(uint32_t width, uint32_t height, uint16_t bitCount, uint32_t seed);

// The pictures whose .vek files are kept as test data (name, BMP file).
struct NamedPicture {
    std::string name;
    Bytes file;
};
std::vector<NamedPicture> fixturePictures();

// Raw blocks.
Bytes randomBlock(size_t n, uint32_t seed, uint32_t alphabet = 256);
Bytes repeatBlock(const Bytes &root, size_t n);  // root repeated, cut at n bytes

// The byte-run pre-coded form of `data` (what the sort sees of a picture).
Bytes precode(const Bytes &data);

} // namespace sortpictures

#endif
