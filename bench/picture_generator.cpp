#include "picture_generator.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace vekbench {

namespace {

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
    double unit() { return (next() >> 8) / 16777216.0; }

private:
    uint32_t state_;
};

void put16(Bytes &b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(Bytes &b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

uint32_t rowBytes(uint32_t width, uint32_t bitCount) {
    return (width * bitCount + 31) / 32 * 4;
}

uint8_t clampByte(double v) {
    return static_cast<uint8_t>(std::min(255.0, std::max(0.0, std::floor(v + 0.5))));
}

// A bottom-up BMP file with headers as the decoder writes them back.
Bytes makeBmp(uint32_t width, uint32_t height, uint16_t bitCount, const Bytes &palette, const Bytes &pixels) {
    Bytes b;
    const uint32_t offBits = 54 + static_cast<uint32_t>(palette.size());
    put16(b, 0x4D42);
    put32(b, offBits + static_cast<uint32_t>(pixels.size()));
    put32(b, 0);
    put32(b, offBits);
    put32(b, 40);
    put32(b, width);
    put32(b, height);
    put16(b, 1);
    put16(b, bitCount);
    put32(b, 0);
    put32(b, static_cast<uint32_t>(pixels.size()));
    for (int k = 0; k < 4; ++k) put32(b, 0);
    b.insert(b.end(), palette.begin(), palette.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

// Pixel rows from a function that fills one pixel's channels.
Bytes rows(uint32_t width, uint32_t height, uint32_t channels, const std::function<void(uint32_t, uint32_t, uint8_t *)> &pixel) {
    const uint32_t stride = rowBytes(width, channels * 8);
    Bytes out(static_cast<size_t>(stride) * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) pixel(x, y, &out[static_cast<size_t>(y) * stride + x * channels]);
    return out;
}

// Fractal value noise in about [-1, 1]: smooth large shapes with finer
// detail on top, the way a natural scene varies.
class FractalNoise {
public:
    explicit FractalNoise(uint32_t seed) {
        Random rnd(seed);
        for (auto &v : lattice_) v = rnd.unit() * 2 - 1;
    }
    double operator()(double x, double y) const {
        double sum = 0, amplitude = 1, scale = 1.0 / 256, norm = 0;
        for (int octave = 0; octave < 7; ++octave) {
            sum += amplitude * smooth(x * scale + octave * 17.3, y * scale + octave * 5.9);
            norm += amplitude;
            amplitude *= 0.55;
            scale *= 2;
        }
        return sum / norm;
    }

private:
    static const int SIZE = 256;
    double at(int x, int y) const { return lattice_[(y & (SIZE - 1)) * SIZE + (x & (SIZE - 1))]; }
    double smooth(double x, double y) const {
        const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
        double fx = x - x0, fy = y - y0;
        fx = fx * fx * (3 - 2 * fx);
        fy = fy * fy * (3 - 2 * fy);
        const double top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
        const double bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
        return top * (1 - fy) + bottom * fy;
    }
    double lattice_[SIZE * SIZE];
};

// Photographic: luminance from fractal noise, colour from two slower
// noises, and sensor noise of about one level.
Bytes photo(uint32_t width, uint32_t height, uint16_t bitCount, uint32_t seed) {
    const FractalNoise light(seed), hue(seed + 1), tint(seed + 2);
    Random grain(seed + 3);
    const uint32_t channels = bitCount / 8;
    return makeBmp(width, height, bitCount, Bytes(), rows(width, height, channels, [&](uint32_t x, uint32_t y, uint8_t *px) {
        const double l = 120 + 110 * light(x, y);
        const double u = 40 * hue(x * 0.5, y * 0.5), v = 40 * tint(x * 0.5, y * 0.5);
        const double noise = (grain.unit() + grain.unit() - 1) * 2.5;
        px[0] = clampByte(l + u + noise);            // blue
        px[1] = clampByte(l - 0.4 * u - 0.4 * v + noise);
        px[2] = clampByte(l + v + noise);            // red
        if (channels == 4) px[3] = 0;
    }));
}

// Screenshot: a desktop with overlapping windows, title bars, lines of
// text in a few glyphs, buttons and an embedded photo.
Bytes screenshot(uint32_t width, uint32_t height, uint32_t seed) {
    Random rnd(seed);
    struct Window {
        uint32_t x0, y0, x1, y1, textSeed;
        bool photo;
    };
    std::vector<Window> windows;
    for (int k = 0; k < 7; ++k) {
        Window w;
        w.x0 = rnd.below(width * 3 / 4);
        w.y0 = rnd.below(height * 3 / 4);
        w.x1 = std::min(width, w.x0 + 300 + rnd.below(width / 2));
        w.y1 = std::min(height, w.y0 + 200 + rnd.below(height / 2));
        w.textSeed = rnd.next();
        w.photo = k % 3 == 2;
        windows.push_back(w);
    }
    uint64_t glyphs[64];
    for (auto &g : glyphs) g = (static_cast<uint64_t>(rnd.next()) << 32 | rnd.next()) & 0x7FFFFFFFFFFFFull;
    const FractalNoise scene(seed + 9);
    return makeBmp(width, height, 24, Bytes(), rows(width, height, 3, [&](uint32_t x, uint32_t y, uint8_t *px) {
        // Rows are stored bottom-up; draw top-down.
        const uint32_t ty = height - 1 - y;
        const Window *top = nullptr;
        for (const Window &w : windows)
            if (x >= w.x0 && x < w.x1 && ty >= w.y0 && ty < w.y1) top = &w;
        if (top == nullptr) {  // desktop: a smooth two-colour gradient
            px[0] = static_cast<uint8_t>(120 + ty * 80 / height);
            px[1] = 70;
            px[2] = 30;
            return;
        }
        const uint32_t wx = x - top->x0, wy = ty - top->y0;
        if (wx == 0 || wy == 0 || x + 1 == top->x1 || ty + 1 == top->y1) {  // frame
            px[0] = px[1] = px[2] = 90;
            return;
        }
        if (wy < 24) {  // title bar
            px[0] = static_cast<uint8_t>(230 - std::min<uint32_t>(wx / 4, 150));
            px[1] = static_cast<uint8_t>(140 - std::min<uint32_t>(wx / 8, 100));
            px[2] = 40;
            return;
        }
        if (top->photo && wx > 20 && wy > 40 && x + 20 < top->x1 && ty + 20 < top->y1) {
            const double l = 128 + 100 * scene(x, ty);
            px[0] = clampByte(l * 0.8);
            px[1] = clampByte(l);
            px[2] = clampByte(l * 1.1);
            return;
        }
        // Text lines of 7 x 11 cells, ragged right margins.
        const uint32_t line = (wy - 30) / 14, col = (wx - 10) / 7;
        const uint32_t gx = (wx - 10) % 7, gy = (wy - 30) % 14;
        uint8_t level = 245;
        if (wy >= 30 && wx >= 10 && gx < 6 && gy < 9) {
            const uint32_t h = (top->textSeed ^ (line * 2654435761u)) >> 7;
            if (col < 20 + h % 40) {
                const uint32_t pick = (h + col * 40503u) % 64;
                if (pick % 9 != 0 && ((glyphs[pick] >> (gy * 6 + gx)) & 1)) level = 25;
            }
        }
        px[0] = px[1] = px[2] = level;
    }));
}

// Flat colour: overlapping rectangles and discs filled with flat colours.
Bytes flatColour(uint32_t width, uint32_t height, uint32_t seed) {
    Random rnd(seed);
    struct Shape {
        int32_t cx, cy, rx, ry;
        bool disc;
        uint8_t colour[3];
    };
    std::vector<Shape> shapes;
    for (int k = 0; k < 40; ++k) {
        Shape s;
        s.cx = static_cast<int32_t>(rnd.below(width));
        s.cy = static_cast<int32_t>(rnd.below(height));
        s.rx = 20 + static_cast<int32_t>(rnd.below(width / 5));
        s.ry = 20 + static_cast<int32_t>(rnd.below(height / 5));
        s.disc = rnd.below(2) == 0;
        for (auto &c : s.colour) c = static_cast<uint8_t>(rnd.below(8) * 36);
        shapes.push_back(s);
    }
    return makeBmp(width, height, 24, Bytes(), rows(width, height, 3, [&](uint32_t x, uint32_t y, uint8_t *px) {
        px[0] = 240;
        px[1] = 240;
        px[2] = 240;
        for (const Shape &s : shapes) {
            const double dx = (static_cast<double>(x) - s.cx) / s.rx, dy = (static_cast<double>(y) - s.cy) / s.ry;
            const bool inside = s.disc ? dx * dx + dy * dy <= 1 : std::fabs(dx) <= 1 && std::fabs(dy) <= 1;
            if (inside) std::copy(s.colour, s.colour + 3, px);
        }
    }));
}

// Palette: a photographic scene reduced to a 256-colour table (6 x 7 x 6
// levels) with ordered dithering.
Bytes palette(uint32_t width, uint32_t height, uint32_t seed) {
    Bytes table;
    for (int i = 0; i < 256; ++i) {
        const int r = i / 42 % 6, g = i / 6 % 7, b = i % 6;
        table.push_back(static_cast<uint8_t>(b * 51));
        table.push_back(static_cast<uint8_t>(g * 42));
        table.push_back(static_cast<uint8_t>(r * 51));
        table.push_back(0);
    }
    const FractalNoise light(seed), hue(seed + 1);
    static const int BAYER[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    return makeBmp(width, height, 8, table, rows(width, height, 1, [&](uint32_t x, uint32_t y, uint8_t *px) {
        const double l = 0.5 + 0.45 * light(x, y), u = 0.3 * hue(x * 0.7, y * 0.7);
        const double d = (BAYER[y & 3][x & 3] + 0.5) / 16;
        auto level = [&](double v, int levels) {
            return std::min(levels - 1, std::max(0, static_cast<int>(v * (levels - 1) + d)));
        };
        const int r = level(l + u, 6), g = level(l, 7), b = level(l - u, 6);
        *px = static_cast<uint8_t>(std::min(255, r * 42 + g * 6 + b));
    }));
}

// The adversarial pictures are 24-bit, 1024 x 892: 2,740,224 data bytes,
// cut into blocks of 167 x 8192 bytes, so a block of data without runs
// holds 1,368,045 = 3^2 x 5 x 7 x 43 x 101 bytes. Data with a period that
// divides this length make the first block a pure repetition.
const uint32_t ADV_WIDTH = 1024;
const uint32_t ADV_HEIGHT = 892;

// A 24-bit picture whose data bytes repeat `root` from the first one on
// (rows of 1024 pixels have no padding).
GeneratedPicture repeating(const std::string &name, const std::string &what, const Bytes &root) {
    Bytes pixels(static_cast<size_t>(ADV_WIDTH) * 3 * ADV_HEIGHT);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = root[i % root.size()];
    return {name, what, makeBmp(ADV_WIDTH, ADV_HEIGHT, 24, Bytes(), pixels)};
}

// A root without four equal bytes in a row (also across its end, where it
// meets its next copy), so that the run pre-coding leaves the data as they
// are.
Bytes runFreeRoot(size_t length, uint32_t seed, uint32_t alphabet) {
    for (;; ++seed) {
        Random rnd(seed);
        Bytes root(length);
        for (size_t i = 0; i < length; ++i) {
            root[i] = static_cast<uint8_t>(rnd.below(alphabet) * (256 / alphabet));
            if (i >= 3 && root[i] == root[i - 1] && root[i] == root[i - 2] && root[i] == root[i - 3])
                root[i] = static_cast<uint8_t>(root[i] + 256 / alphabet);
        }
        bool runFree = true;
        for (size_t i = 0; i < length && runFree; ++i) {
            size_t same = 1;
            while (same < 4 && root[(i + same) % length] == root[i]) ++same;
            runFree = same < 4;
        }
        if (runFree) return root;
    }
}

} // namespace

std::vector<GeneratedPicture> regularPictures() {
    return {
        {"photo-24", "photographic, 24-bit 1280 x 960", photo(1280, 960, 24, 1)},
        {"photo-32", "photographic, 32-bit 1024 x 768", photo(1024, 768, 32, 2)},
        {"screen-24", "screenshot-like, 24-bit 1440 x 900", screenshot(1440, 900, 3)},
        {"flat-24", "flat-colour shapes, 24-bit 1600 x 1000", flatColour(1600, 1000, 4)},
        {"palette-8", "palette (256 colours, dithered), 8-bit 2048 x 1536", palette(2048, 1536, 5)},
    };
}

std::vector<GeneratedPicture> adversarialPictures() {
    std::vector<GeneratedPicture> set;
    Bytes noise(static_cast<size_t>(ADV_WIDTH) * 3 * ADV_HEIGHT);
    Random rnd(77);
    for (auto &b : noise) b = static_cast<uint8_t>(rnd.next() >> 24);
    set.push_back({"adv-noise", "random noise (the yardstick)", makeBmp(ADV_WIDTH, ADV_HEIGHT, 24, Bytes(), noise)});
    set.push_back(repeating("adv-grey", "one colour, equal bytes (runs pre-coded)", Bytes{128}));
    set.push_back(repeating("adv-one-colour", "one colour (b, g, r differ): period 3", Bytes{200, 120, 40}));
    set.push_back(repeating("adv-two-colours", "two alternating colours: period 6", Bytes{200, 120, 40, 10, 90, 250}));
    set.push_back(repeating("adv-pattern-7", "a 7-pixel pattern: period 21", runFreeRoot(21, 5, 256)));
    set.push_back(repeating("adv-tile-1k", "a 1 KB tile repeated: period 1024", runFreeRoot(1024, 6, 256)));
    set.push_back(repeating("adv-period-1515", "period 1515, divides the block length", runFreeRoot(1515, 7, 256)));
    set.push_back(repeating("adv-period-binary", "period 2709 of two values, divides the block length", runFreeRoot(2709, 8, 2)));
    set.push_back(repeating("adv-period-third", "period of a third of the block", runFreeRoot(1368045 / 3, 9, 256)));
    return set;
}

} // namespace vekbench
