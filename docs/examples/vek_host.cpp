// vek_host: a small program that uses the VEK codec library as a host does.
// It links the library (through pkg-config or CMake's find_package, see
// CMakeLists.txt beside it), compresses a BMP picture in memory, restores it
// in memory and prints the sizes.
//
//   vek_host [picture.bmp]     without a picture, a 64 x 48 24-bit one is made
//
// Exit status: 0 when the picture came back with the same colour table and
// pixels, 1 otherwise.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <vek/vek.h>

namespace {

typedef std::vector<uint8_t> Bytes;

void put16(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t *p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

// A 24-bit BMP file image: a colour gradient.
Bytes makePicture(uint32_t width, uint32_t height) {
    const uint32_t rowBytes = (width * 3 + 3) / 4 * 4;
    Bytes bmp(54 + rowBytes * height, 0);
    uint8_t *h = bmp.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, uint32_t(bmp.size()));
    put32(h + 10, 54);
    put32(h + 14, 40);
    put32(h + 18, width);
    put32(h + 22, height);
    put16(h + 26, 1);
    put16(h + 28, 24);
    put32(h + 34, rowBytes * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t *p = h + 54 + y * rowBytes + 3 * x;
            p[0] = uint8_t(4 * x);
            p[1] = uint8_t(5 * y);
            p[2] = 128;
        }
    return bmp;
}

} // namespace

int main(int argc, char **argv) {
    Bytes bmp;
    if (argc > 1) {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", argv[1]);
            return 1;
        }
        bmp.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        bmp = makePicture(64, 48);
    }

    VekCodecInterface *codec = VEK_Constructor();
    if (codec == nullptr) {
        std::fprintf(stderr, "no codec object\n");
        return 1;
    }
    int status = 1;
    const uint32_t bmpSize = uint32_t(bmp.size());
    Bytes vek(codec->getEncodeBound(bmpSize));
    uint32_t vekSize = uint32_t(vek.size());
    if (vek.empty() || !codec->encodeMemory(bmp.data(), bmpSize, vek.data(), &vekSize)) {
        std::fprintf(stderr, "not an accepted BMP picture\n");
    } else {
        Bytes restored(codec->getDecodedSize(vek.data(), vekSize));
        uint32_t restoredSize = uint32_t(restored.size());
        if (!codec->decodeMemory(vek.data(), vekSize, restored.data(), &restoredSize)) {
            std::fprintf(stderr, "the .vek bytes did not decode\n");
        } else {
            BITMAPINFOHEADER info;
            std::memcpy(&info, restored.data() + sizeof(BITMAPFILEHEADER), sizeof(info));
            // The colour table and pixel rows come back; the restored file may
            // be longer (its rows are counted in whole groups of 4 pixels).
            const size_t data = bmp.size() - 54;
            const bool same = restoredSize >= bmp.size() &&
                              std::memcmp(bmp.data() + 54, restored.data() + 54, data) == 0;
            std::printf("%d x %d pixels, %d bits: %u bytes as BMP, %u bytes as .vek, %u bytes restored, %s\n",
                        int(info.biWidth), int(info.biHeight), int(info.biBitCount), unsigned(bmpSize),
                        unsigned(vekSize), unsigned(restoredSize), same ? "pixels identical" : "PIXELS DIFFER");
            status = same ? 0 : 1;
        }
    }
    VEK_Destructor(codec);
    return status;
}
