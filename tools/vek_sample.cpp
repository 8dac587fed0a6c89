// Writes a sample picture for trying the converter: a 640 x 480 24-bit BMP
// with smooth gradients, a little sensor-like noise and a few flat shapes.
//   vek_sample out.bmp
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

void put16(std::vector<uint8_t> &b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t> &b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s out.bmp\n", argc > 0 ? argv[0] : "vek_sample");
        return 2;
    }
    const uint32_t width = 640, height = 480;
    const uint32_t row = (width * 3 + 3) & ~3u;
    std::vector<uint8_t> file;
    put16(file, 0x4D42);
    put32(file, 54 + row * height);
    put32(file, 0);
    put32(file, 54);
    put32(file, 40);
    put32(file, width);
    put32(file, height);
    put16(file, 1);
    put16(file, 24);
    put32(file, 0);
    put32(file, row * height);
    put32(file, 2835);
    put32(file, 2835);
    put32(file, 0);
    put32(file, 0);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int n = static_cast<int>((noise >> 16) % 5) - 2;
            int r = static_cast<int>(x * 255 / width), g = static_cast<int>(y * 255 / height), b = 128 + n;
            const int dx = static_cast<int>(x) - 420, dy = static_cast<int>(y) - 260;
            if (dx * dx + dy * dy < 90 * 90) r = 230, g = 200, b = 40;       // a sun
            if (x > 60 && x < 260 && y > 60 && y < 180) r = 30, g = 90, b = 160; // a flat panel
            file.push_back(static_cast<uint8_t>(b));
            file.push_back(static_cast<uint8_t>(g + n < 0 ? 0 : (g + n > 255 ? 255 : g + n)));
            file.push_back(static_cast<uint8_t>(r));
        }
        for (uint32_t pad = width * 3; pad < row; ++pad) file.push_back(0);
    }
    FILE *out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
