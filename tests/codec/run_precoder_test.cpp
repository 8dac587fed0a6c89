// Byte-run pre-coding, block assembly and expansion, the block size rule
// and the progress reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "run_precoder.h"
#include "test_support.h"

using namespace testsupport;

namespace {

struct Block {
    Bytes bytes;
    int isLast;
};

// The run pre-coder's stages with their own memory and picture image.
struct Precoding {
    RunPrecoder precoder;
    WorkMemory memory;
    uint8_t *image = nullptr;
    uint32_t imageLength = 0, imageCapacity = 0;
    Precoding() = default;
    Precoding(const Precoding &) = delete;
    Precoding &operator=(const Precoding &) = delete;
    ~Precoding() { memory.release(image); }
};

// Pre-codes `data` into blocks of the given block factor.
std::vector<Block> precode(Precoding &codec, const Bytes &data, uint32_t blockFactor, ProgressSink *progress = nullptr) {
    MemorySource in(data.data(), data.size());
    codec.precoder.start(in, static_cast<int32_t>(data.size()));
    // Exactly the capacity: a block that passed it would write out of bounds.
    Bytes buffer(size_t(blockFactor) * BLOCK_UNIT);
    std::vector<Block> blocks;
    int isLast;
    do {
        int32_t blockLast = -1;
        isLast = codec.precoder.fillBlock(buffer.data(), buffer.size(), blockLast, progress);
        Block b{Bytes(), isLast};
        b.bytes.assign(buffer.begin(), buffer.begin() + blockLast + 1);
        blocks.push_back(b);
    } while (!isLast && blocks.size() < 1000);
    return blocks;
}

// Expands one decoded block into a fresh image and returns what it delivered.
Bytes expand(Precoding &codec, const Bytes &block, int isLast, uint32_t expected = 1u << 20) {
    ImageOutput out{codec.image, codec.imageLength, codec.imageCapacity, expected, codec.memory};
    out.start();
    expandBlock(block.data(), static_cast<int32_t>(block.size()) - 1, isLast, out);
    return Bytes(codec.image, codec.image + codec.imageLength);
}

Bytes repeatByte(uint8_t v, size_t n) {
    return Bytes(n, v);
}

} // namespace

TEST(BlockFactor, ChosenFromTheDataSize) {
    const struct {
        int32_t n;
        uint32_t factor;
    } cases[] = {{-5, 1},          {0, 1},          {1, 1},           {8192, 1},        {8193, 2},
                 {2088960, 255},   {2088961, 127},  {4177921, 255},   {4177922, 170},   {10000000, 244},
                 {INT32_MAX, 254}};
    for (const auto &c : cases) {
        const uint32_t factor = chooseBlockFactor(c.n);
        EXPECT_EQ(factor, c.factor) << "N = " << c.n;
        EXPECT_GE(factor, 1u);
        EXPECT_LE(factor, 255u);
    }
}

TEST(RunPrecoder, RunsAreShortenedToFourCopiesAndACount) {
    auto codec = std::make_unique<Precoding>();
    EXPECT_EQ(precode(*codec, repeatByte(9, 4), 1)[0].bytes, (Bytes{9, 9, 9, 9, 0, 0x7F}));
    EXPECT_EQ(precode(*codec, repeatByte(9, 300), 1)[0].bytes, (Bytes{9, 9, 9, 9, 252, 9, 9, 9, 9, 40, 0x7F}));
    EXPECT_EQ(precode(*codec, repeatByte(9, 257), 1)[0].bytes, (Bytes{9, 9, 9, 9, 252, 9, 0x7F}));
    EXPECT_EQ(precode(*codec, Bytes{1, 1, 2, 2, 2, 3, 0x7F, 0x7F}, 1)[0].bytes,
              (Bytes{1, 1, 2, 2, 2, 3, 0x7F, 0x7F, 0x7F}));
    const std::vector<Block> empty = precode(*codec, Bytes(), 1);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].bytes, Bytes{0x7F});
    EXPECT_EQ(empty[0].isLast, 1);
}

TEST(RunPrecoder, BlocksCloseAfterWholeRunsAndTheMarkerMayStandAlone) {
    auto codec = std::make_unique<Precoding>();
    const uint32_t closeAt = BLOCK_UNIT - 20;
    // Distinct neighbours: one byte per run, so the block closes at exactly
    // closeAt + 1 bytes; data of exactly that length end with a full block.
    Bytes data(closeAt + 1);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 2 ? 1 : 2);
    std::vector<Block> blocks = precode(*codec, data, 1);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].isLast, 0);
    EXPECT_EQ(blocks[0].bytes, data);
    EXPECT_EQ(blocks[1].bytes, Bytes{0x7F});
    EXPECT_EQ(blocks[1].isLast, 1);

    // A run whose storing carries the block past the closing length stays
    // whole: the block reaches closeAt + 5 bytes at most.
    Bytes runs(closeAt - 2, 0);
    for (size_t i = 0; i < runs.size(); ++i) runs[i] = static_cast<uint8_t>(i % 2 ? 1 : 2);
    Bytes tail = repeatByte(5, 100);
    runs.insert(runs.end(), tail.begin(), tail.end());
    runs.push_back(6);
    blocks = precode(*codec, runs, 1);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].bytes.size(), closeAt - 2 + 5);
    EXPECT_EQ(blocks[0].bytes.back(), 96);
    EXPECT_EQ(blocks[1].bytes, (Bytes{6, 0x7F}));
    EXPECT_LE(blocks[0].bytes.size(), BLOCK_UNIT - 15);
}

// The pre-coding and block closing as plainly as they can be said: runs cut
// after 256, stored as they are below 4 and as four copies and a count from
// 4; a block closes once a stored run brings it past closeAt + 1 bytes; the
// last block ends with the marker.
std::vector<Block> plainPrecode(const Bytes &data, uint32_t blockFactor) {
    const size_t closeAt = blockFactor * BLOCK_UNIT - 20;
    std::vector<Block> blocks(1, Block{Bytes(), 0});
    size_t i = 0;
    while (i < data.size()) {
        size_t length = 1;
        while (i + length < data.size() && data[i + length] == data[i] && length < 256) ++length;
        Bytes &block = blocks.back().bytes;
        for (size_t k = 0; k < std::min<size_t>(length, 4); ++k) block.push_back(data[i]);
        if (length >= 4) block.push_back(static_cast<uint8_t>(length - 4));
        i += length;
        if (block.size() > closeAt) blocks.push_back(Block{Bytes(), 0});
    }
    blocks.back().bytes.push_back(0x7F);
    blocks.back().isLast = 1;
    return blocks;
}

TEST(RunPrecoder, SameBlocksAsThePlainPrecoderAcrossReadBuffers) {
    // Mostly runs of one to five bytes (the buffered shortcuts) with longer
    // ones and stretches without repeats (taken eight bytes at a time)
    // between, over several 64 KB reads, so that runs of every kind meet the
    // ends of the read buffer and of blocks.
    const Bytes choice = randomBytes(400000, 41);
    Bytes data;
    for (size_t k = 0; data.size() < 300000; ++k) {
        const uint8_t r = choice[k];
        if (r >= 250) {
            for (size_t n = 1 + choice[k + 1] % 40; n > 0; --n)
                data.push_back(static_cast<uint8_t>(data.empty() || data.back() != 7 ? 7 : 8));
            continue;
        }
        const size_t length = r < 200 ? 1 + r % 3 : r < 240 ? 4 + r % 3 : 1 + choice[k + 1] % 300;
        const uint8_t value = static_cast<uint8_t>(choice[k + 2] % 4);
        data.insert(data.end(), length, value);
    }
    for (uint32_t factor : {1u, 3u, 37u}) {
        auto codec = std::make_unique<Precoding>();
        const std::vector<Block> got = precode(*codec, data, factor);
        const std::vector<Block> expected = plainPrecode(data, factor);
        ASSERT_EQ(got.size(), expected.size()) << factor;
        for (size_t b = 0; b < got.size(); ++b) {
            EXPECT_EQ(got[b].isLast, expected[b].isLast) << factor << " " << b;
            ASSERT_EQ(got[b].bytes, expected[b].bytes) << factor << " " << b;
        }
    }
}

TEST(RunPrecoder, ExpansionRestoresRunsAndChecksTheMarker) {
    auto codec = std::make_unique<Precoding>();
    EXPECT_EQ(expand(*codec, Bytes{4, 4, 4, 4, 0}, 0), repeatByte(4, 4));
    EXPECT_EQ(expand(*codec, Bytes{4, 4, 4, 4, 3}, 0), repeatByte(4, 7));
    EXPECT_EQ(expand(*codec, Bytes{4, 4, 4, 4, 0, 4}, 0), repeatByte(4, 5));
    EXPECT_EQ(expand(*codec, Bytes{4, 4, 4, 4, 252, 4, 4, 4, 4, 40, 0x7F}, 1), repeatByte(4, 300));
    EXPECT_EQ(expand(*codec, Bytes{0x7F, 0x7F, 0x7F}, 1), (Bytes{0x7F, 0x7F}));
    EXPECT_EQ(expand(*codec, Bytes{0x7F}, 1), Bytes());
    // A last block must end with the marker.
    EXPECT_THROW(expand(*codec, Bytes{1, 2, 3}, 1), VekFailure);
    // A count byte may not lie beyond the block (nor on the marker).
    EXPECT_THROW(expand(*codec, Bytes{4, 4, 4, 4}, 0), VekFailure);
    EXPECT_THROW(expand(*codec, Bytes{4, 4, 4, 4, 0x7F}, 1), VekFailure);
    // Never more data than the header announces.
    EXPECT_EQ(expand(*codec, Bytes{4, 4, 4, 4, 3}, 0, 7), repeatByte(4, 7));
    EXPECT_THROW(expand(*codec, Bytes{4, 4, 4, 4, 3}, 0, 6), VekFailure);
    EXPECT_THROW(expand(*codec, Bytes{1, 2, 0x7F}, 1, 1), VekFailure);
}

TEST(RunPrecoder, PrecodingThenExpansionIsLossless) {
    auto codec = std::make_unique<Precoding>();
    // Runs of every length around the thresholds, 0x7F data, and noise.
    Bytes data;
    for (uint32_t k = 1; k <= 600; k += (k < 10 ? 1 : 37)) {
        Bytes run = repeatByte(static_cast<uint8_t>(k % 3 == 0 ? 0x7F : k), k);
        data.insert(data.end(), run.begin(), run.end());
    }
    Bytes noise = randomBytes(30000, 3, 4);
    data.insert(data.end(), noise.begin(), noise.end());
    const std::vector<Block> blocks = precode(*codec, data, 1);
    EXPECT_GT(blocks.size(), 1u);
    Bytes restored;
    for (const Block &b : blocks) {
        Bytes part = expand(*codec, b.bytes, b.isLast);
        restored.insert(restored.end(), part.begin(), part.end());
    }
    EXPECT_EQ(restored, data);
}

TEST(RunPrecoder, ExpansionOfRunsBetweenStretchesWithoutRepeats) {
    // The expansion skips stretches where no byte repeats the one before it
    // eight bytes at a time; runs of every length up to a few past four must
    // still be found at every place relative to those skips.
    auto codec = std::make_unique<Precoding>();
    std::mt19937 rng(21);
    Bytes data;
    while (data.size() < 60000) {
        for (uint32_t k = rng() % 23; k > 0; --k) {
            uint8_t b = static_cast<uint8_t>(rng());
            if (!data.empty() && b == data.back()) ++b;
            data.push_back(b);
        }
        const Bytes run = repeatByte(rng() % 2 ? data.back() : static_cast<uint8_t>(rng()), 1 + rng() % 9);
        data.insert(data.end(), run.begin(), run.end());
    }
    Bytes restored;
    for (const Block &b : precode(*codec, data, 1)) {
        Bytes part = expand(*codec, b.bytes, b.isLast);
        restored.insert(restored.end(), part.begin(), part.end());
    }
    EXPECT_EQ(restored, data);
}

namespace {

struct RecordedProgress final : ProgressSink {
    std::vector<int32_t> values;
    void report(int32_t percentDone) override { values.push_back(percentDone); }
};

} // namespace

TEST(RunPrecoder, ProgressIsReportedAfterLongRunsOnly) {
    auto codec = std::make_unique<Precoding>();
    RecordedProgress progress;

    // No run of four or more: no report.
    Bytes plain(5000);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i);
    precode(*codec, plain, 1, &progress);
    EXPECT_TRUE(progress.values.empty());

    // Long runs spread over the data: rising percentages ending at 100.
    Bytes data;
    for (int k = 0; k < 50; ++k) {
        Bytes part = randomBytes(400, k + 1);
        data.insert(data.end(), part.begin(), part.end());
        Bytes run = repeatByte(static_cast<uint8_t>(k), 10);
        data.insert(data.end(), run.begin(), run.end());
    }
    precode(*codec, data, 4, &progress);
    ASSERT_GE(progress.values.size(), 10u);
    for (size_t i = 1; i < progress.values.size(); ++i) EXPECT_GE(progress.values[i], progress.values[i - 1]);
    EXPECT_GT(progress.values.back(), progress.values.front());
    EXPECT_EQ(progress.values.back(), 100) << "the run that ends the data reports 100";
}
