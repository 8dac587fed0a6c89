// Fuzz target: a .vek file decoded into the codec's picture image (loadFile,
// and loadMemory on a second object, which must agree) and every accessor
// read back, touching each byte of the image.
//
// A successful load holds exactly N bytes, the bits start inside the image
// after the colour table, and the headers describe that picture. A failed
// load leaves no picture in a fresh object.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace fuzz;
    if (size >= VEK_HEADER_SIZE && announcedDataSize(data) > MAX_FUZZ_DATA_SIZE) return -1;
    const std::string in = scratchPath("in");
    writeWholeFile(in, data, size);

    Codec codec;
    const int result = codec->loadFile(in.c_str());
    checkWorkspaceReleased(codec);
    FUZZ_CHECK(result == 0 || result == 1);

    Codec fromMemory;
    FUZZ_CHECK(fromMemory->loadMemory(data, static_cast<uint32_t>(size)) == result);
    checkWorkspaceReleased(fromMemory);
    FUZZ_CHECK(fromMemory->getImageLength() == codec->getImageLength());
    FUZZ_CHECK(result == 0 || std::memcmp(fromMemory->getImage(), codec->getImage(),
                                          static_cast<size_t>(codec->getImageLength())) == 0);

    uint8_t *image = codec->getImage();
    const int length = codec->getImageLength();
    const BITMAPFILEHEADER file = codec->getFileHeader();
    BITMAPINFOHEADER info;
    codec->getInfoHeader(&info);
    const int width = codec->getWidth();
    const int height = codec->getHeight();
    const int stride = codec->getStride();
    const int bitCount = codec->getBitCount();
    uint8_t *bits = codec->getBits();
    codec->getVersion();
    codec->setProgressTarget(nullptr, 0, 0);
    codec->clearProgressTarget();

    if (result == 0) {
        FUZZ_CHECK(image == nullptr && bits == nullptr && length == 0);
        return 0;
    }

    const VekFileHeader h = unpackVekHeader(data);
    const uint64_t n = dataSizeOf(h);
    FUZZ_CHECK(length >= 0 && static_cast<uint64_t>(length) == n);
    FUZZ_CHECK(image != nullptr);
    FUZZ_CHECK(bits == image + h.paletteSize);
    FUZZ_CHECK(width == h.width && height == h.height && bitCount == h.bitCount);
    FUZZ_CHECK(stride >= width && stride % 4 == 0);
    FUZZ_CHECK(file.bfType == BMP_SIGNATURE);
    FUZZ_CHECK(file.bfSize == BMP_HEADERS_SIZE + n);
    FUZZ_CHECK(file.bfOffBits == BMP_HEADERS_SIZE + h.paletteSize);
    FUZZ_CHECK(info.biSize == 40 && info.biWidth == width && info.biHeight == height);
    FUZZ_CHECK(info.biSizeImage == n - h.paletteSize);

    // Every byte of the image is readable, and the pixel rows end where it does.
    unsigned sum = 0;
    for (int i = 0; i < length; ++i) sum += image[i];
    for (uint64_t i = 0; i < info.biSizeImage; ++i) sum += bits[i];
    volatile unsigned sink = sum;
    (void)sink;
    return 0;
}
