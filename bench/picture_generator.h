// Generated BMP pictures for the benchmark: pictures of a few MB of the
// kinds people compress (photographic, screenshot, flat colour, palette) and
// an adversarial set of one size that stresses the block sort (one colour,
// alternating colours, short patterns, tiles, data whose period divides the
// block length, and random noise to compare them with).
#ifndef VEK_BENCH_PICTURE_GENERATOR_H
#define VEK_BENCH_PICTURE_GENERATOR_H

#include <cstdint>
#include <string>
#include <vector>

namespace vekbench {

typedef std::vector<uint8_t> Bytes;

struct GeneratedPicture {
    std::string name;  // file name without extension; adversarial ones start with "adv-"
    std::string what;  // one line for the report
    Bytes file;        // the whole BMP file
};

// The regular set (a few MB each).
std::vector<GeneratedPicture> regularPictures();

// The adversarial set, all of the same data size as its random noise
// picture, "adv-noise".
std::vector<GeneratedPicture> adversarialPictures();

} // namespace vekbench

#endif
