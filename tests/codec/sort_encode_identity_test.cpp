// Whole encodes with the production block sort give the same .vek bytes as
// with the literal sort: against files that the literal sort's encoder
// wrote (tests/data/sort), and against the encoder run with the reference
// sort in place of the production one.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "block_sort.h"
#include "encoder_driver.h"
#include "file_io.h"
#include "reference_block_sort.h"
#include "sort_test_pictures.h"
#include "test_support.h"
#include "vek_codec.h"
#include "work_buffers.h"

using namespace sortpictures;

namespace {

Bytes readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string &path, const Bytes &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

// A scratch file name of this process, removed on destruction.
struct ScratchFile {
    std::string path;
    explicit ScratchFile(const std::string &name) : path(::testing::TempDir() + "vek_identity_" + std::to_string(::getpid()) + "_" + name) {}
    ~ScratchFile() { std::remove(path.c_str()); }
};

Bytes encodeWithCodec(const Bytes &bmp) {
    ScratchFile in("in.bmp"), out("out.vek");
    writeAll(in.path, bmp);
    auto codec = std::make_unique<VekCodec>();
    EXPECT_EQ(codec->encodeFile(in.path.c_str(), out.path.c_str()), 1);
    return readAll(out.path);
}

// The encoder's stages in the driver's order, with the reference sort.
Bytes encodeWithReferenceSort(const Bytes &bmp) {
    struct Stages {
        RunPrecoder precoder;
        RangeEncoder encoder;
        SymbolModels models;
        WorkMemory memory;
    };
    auto stages = std::make_unique<Stages>();
    MemorySource input(bmp.data(), bmp.size());
    std::vector<uint8_t> coded(encodeBound(bmp.size()));
    MemorySink output(coded.data(), coded.size());
    AcceptedBitmap picture;
    EXPECT_EQ(checkBitmapHeader(input, &picture), VEK_FAILURE_NONE);
    VekFileHeader header = picture.header;
    header.blockFactor = static_cast<uint8_t>(chooseBlockFactor(picture.dataSize));
    EncoderBlock block(stages->memory, size_t(header.blockFactor) * BLOCK_UNIT);
    uint8_t headerBytes[VEK_HEADER_SIZE];
    packVekHeader(header, headerBytes);
    stages->encoder.start(output, headerBytes, VEK_HEADER_SIZE);
    stages->precoder.start(input, picture.dataSize);
    int isLast;
    do {
        isLast = stages->precoder.fillBlock(block.bytes(), block.capacity, block.blockLast, nullptr);
        referenceSortBlock(block, sortSizeClasses(block.capacity).bounds);
        takeSortedColumn(block);
        encodeColumn(stages->encoder, stages->models, block.lastColumn.get(), block.blockLast, block.primaryIndex,
                     isLast);
    } while (!isLast);
    stages->encoder.finish();
    coded.resize(output.length());
    return coded;
}

// A 24-bit picture whose data bytes repeat `root` (which ends with the end
// marker 0x7F) and stop one byte short of a whole number of roots: the
// marker completes the last copy, so the one block of the picture is a pure
// repetition. Bytes between the headers and the rows (bfOffBits > 54) make
// the data length come out right.
Bytes repetitiveBlockPicture(const Bytes &root, uint32_t width, uint32_t height) {
    const size_t p = root.size();
    const size_t rowsLength = static_cast<size_t>(rowBytes(width, 24)) * height;
    const size_t gap = (2 * p - 1 - rowsLength % p) % p;
    Bytes data(gap + rowsLength);
    for (size_t i = 0; i < data.size(); ++i) data[i] = root[i % p];
    return makeBmp(width, height, 24, Bytes(data.begin(), data.begin() + gap), Bytes(data.begin() + gap, data.end()));
}

} // namespace

TEST(SortEncodeIdentity, FilesWrittenWithTheLiteralSort) {
    for (const NamedPicture &picture : fixturePictures()) {
        SCOPED_TRACE(picture.name);
        const Bytes expected = readAll(std::string(VEK_TEST_DATA_DIR) + "/sort/" + picture.name + ".vek");
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(encodeWithCodec(picture.file) == expected);
    }
}

TEST(SortEncodeIdentity, EncoderWithTheReferenceSortSwappedIn) {
    Bytes tileRoot = randomBlock(1024, 41, 256);
    tileRoot.back() = 0x7F;
    Bytes binaryRoot = randomBlock(97, 42, 2);
    binaryRoot.back() = 0x7F;
    const std::vector<NamedPicture> pictures = {
        {"tiny", photoPicture(4, 4, 24, 20)},
        {"photo", photoPicture(120, 90, 24, 21)},
        {"photo 32-bit", photoPicture(100, 70, 32, 25)},
        {"palette", palettePicture(200, 120, 22)},
        {"flat", flatColourPicture(80, 60, 24, 23)},
        {"screenshot", screenshotPicture(200, 150, 24)},
        {"one colour, marker after it", makeBmp(64, 40, 24, Bytes(), repeatBlock(Bytes{10, 20, 30}, rowBytes(64, 24) * 40))},
        {"period 3", repetitiveBlockPicture(Bytes{10, 20, 0x7F}, 40, 50)},
        {"period 5", repetitiveBlockPicture(Bytes{1, 2, 3, 4, 0x7F}, 36, 30)},
        {"period 97, two values", repetitiveBlockPicture(binaryRoot, 64, 40)},
        {"1 KB tile", repetitiveBlockPicture(tileRoot, 128, 64)},
    };
    for (const NamedPicture &picture : pictures) {
        SCOPED_TRACE(picture.name);
        const Bytes expected = encodeWithReferenceSort(picture.file);
        ASSERT_GT(expected.size(), VEK_HEADER_SIZE);
        EXPECT_TRUE(encodeWithCodec(picture.file) == expected);
    }
}

TEST(SortEncodeIdentity, RepetitiveBlockPicturesAreRepetitive) {
    // The construction above must give the kind of block it claims.
    const Bytes file = repetitiveBlockPicture(Bytes{10, 20, 0x7F}, 40, 50);
    Bytes block = precode(Bytes(file.begin() + 54, file.end()));
    block.push_back(0x7F);
    ASSERT_EQ(block.size() % 3, 0u);
    for (size_t i = 3; i < block.size(); ++i) ASSERT_EQ(block[i], block[i - 3]);
}
