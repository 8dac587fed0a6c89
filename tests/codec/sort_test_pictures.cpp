#include "sort_test_pictures.h"

#include "test_support.h"

#include <algorithm>
#include <cmath>

namespace sortpictures {

namespace {

uint8_t clampByte(int v) {
    return static_cast<uint8_t>(std::min(255, std::max(0, v)));
}

// Pixel rows from a function of (x, y, channel); padding bytes are zero.
template <typename F> Bytes rows(uint32_t width, uint32_t height, uint32_t channels, F value) {
    const uint32_t stride = rowBytes(width, channels * 8);
    Bytes pixels(static_cast<size_t>(stride) * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < channels; ++c)
                pixels[static_cast<size_t>(y) * stride + x * channels + c] = value(x, y, c);
    return pixels;
}

} // namespace

uint32_t rowBytes(uint32_t width, uint32_t bitCount) {
    return testsupport::bmpRowBytes(width, bitCount);
}

Bytes makeBmp(uint32_t width, uint32_t height, uint16_t bitCount, const Bytes &palette, const Bytes &pixels) {
    return testsupport::makeBmp(static_cast<int32_t>(width), static_cast<int32_t>(height), bitCount, palette, pixels);
}

Bytes photoPicture(uint32_t width, uint32_t height, uint16_t bitCount, uint32_t seed) {
    Random rnd(seed);
    const uint32_t channels = bitCount / 8;
    const double fx = 20.0 + rnd.below(40), fy = 25.0 + rnd.below(40);
    return makeBmp(width, height, bitCount, Bytes(), rows(width, height, channels, [&](uint32_t x, uint32_t y, uint32_t c) {
        const double v = 128 + 70 * std::sin(x / fx + c) * std::cos(y / fy) + 40 * std::sin((x + 2.0 * y) / 97.0);
        return clampByte(static_cast<int>(v) + static_cast<int>(rnd.below(5)) - 2);
    }));
}

Bytes screenshotPicture(uint32_t width, uint32_t height, uint32_t seed) {
    Random rnd(seed);
    // Glyphs: a few 6 x 9 bit patterns placed in lines of text on windows.
    uint64_t glyphs[16];
    for (auto &g : glyphs) g = (static_cast<uint64_t>(rnd.next()) << 32) | rnd.next();
    const uint8_t desktop[3] = {160, 90, 40};
    return makeBmp(width, height, 24, Bytes(), rows(width, height, 3, [&](uint32_t x, uint32_t y, uint32_t c) -> uint8_t {
        const uint32_t wx = x % 320, wy = y % 240;
        if (wx < 8 || wy < 8) return desktop[c];                       // desktop between windows
        if (wy < 28) return clampByte(200 - static_cast<int>(wx) / 3 + 20 * static_cast<int>(c));  // title bar
        const uint32_t line = (wy - 28) / 12, col = (wx - 8) / 7;
        const uint32_t gx = (wx - 8) % 7, gy = (wy - 28) % 12;
        if (gx < 6 && gy < 9 && (line * 7 + col * 3 + x / 320) % 11 != 0) {
            const uint64_t g = glyphs[(line * 31 + col * 17 + (y / 240) * 5) % 16];
            if ((g >> (gy * 6 + gx)) & 1) return 20;                    // ink
        }
        return 250;                                                    // paper
    }));
}

Bytes palettePicture(uint32_t width, uint32_t height, uint32_t seed) {
    Random rnd(seed);
    Bytes palette;
    for (uint32_t i = 0; i < 256; ++i) {
        palette.push_back(static_cast<uint8_t>(i));
        palette.push_back(static_cast<uint8_t>((i * 3) & 0xFF));
        palette.push_back(static_cast<uint8_t>(255 - i));
        palette.push_back(0);
    }
    return makeBmp(width, height, 8, palette, rows(width, height, 1, [&](uint32_t x, uint32_t y, uint32_t) {
        const double v = 128 + 100 * std::sin(x / 37.0) * std::sin(y / 23.0);
        // Ordered dithering between neighbouring entries.
        const int dither = ((x & 1) ^ (y & 1)) + (rnd.below(16) == 0 ? 1 : 0);
        return clampByte(static_cast<int>(v) / 4 * 4 + dither);
    }));
}

Bytes flatColourPicture(uint32_t width, uint32_t height, uint16_t bitCount, uint32_t seed) {
    Random rnd(seed);
    struct Rect {
        uint32_t x0, y0, x1, y1;
        uint8_t colour[4];
    };
    std::vector<Rect> shapes;
    for (int k = 0; k < 12; ++k) {
        Rect r;
        r.x0 = rnd.below(width);
        r.y0 = rnd.below(height);
        r.x1 = r.x0 + 1 + rnd.below(width / 2);
        r.y1 = r.y0 + 1 + rnd.below(height / 2);
        for (auto &c : r.colour) c = static_cast<uint8_t>(rnd.next() >> 24);
        shapes.push_back(r);
    }
    const uint32_t channels = bitCount / 8;
    return makeBmp(width, height, bitCount, Bytes(), rows(width, height, channels, [&](uint32_t x, uint32_t y, uint32_t c) {
        uint8_t v = static_cast<uint8_t>(30 + 10 * c);
        for (const Rect &r : shapes)
            if (x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1) v = r.colour[c];
        return v;
    }));
}

std::vector<NamedPicture> fixturePictures() {
    return {
        {"tiny24", photoPicture(8, 8, 24, 6)},
        {"photo24", photoPicture(300, 200, 24, 1)},
        {"palette8", palettePicture(500, 400, 3)},
        {"flat16", flatColourPicture(400, 300, 16, 4)},
        {"flat24", flatColourPicture(640, 480, 24, 5)},
        {"screen24", screenshotPicture(1000, 700, 7)},  // more than one block
    };
}

Bytes randomBlock(size_t n, uint32_t seed, uint32_t alphabet) {
    Random rnd(seed);
    Bytes b(n);
    for (auto &v : b) v = static_cast<uint8_t>(rnd.below(alphabet));
    return b;
}

Bytes repeatBlock(const Bytes &root, size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = root[i % root.size()];
    return b;
}

Bytes precode(const Bytes &data) {
    Bytes out;
    size_t i = 0;
    while (i < data.size()) {
        const uint8_t v = data[i];
        size_t k = 1;
        while (i + k < data.size() && data[i + k] == v && k < 256) ++k;
        for (size_t c = 0; c < std::min<size_t>(k, 4); ++c) out.push_back(v);
        if (k >= 4) out.push_back(static_cast<uint8_t>(k - 4));
        i += k;
    }
    return out;
}

} // namespace sortpictures
