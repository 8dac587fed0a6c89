// The move-to-front and zero-run symbol coder: known streams, the exact
// symbol sequence, and the decoder's bounds on damaged blocks.
#include <gtest/gtest.h>

#include <memory>

#include "block_sort.h"
#include "test_support.h"
#include "vek_codec.h"
#include "work_buffers.h"

using namespace testsupport;

namespace {

const uint8_t ZERO_HEADER[VEK_HEADER_SIZE] = {0};

// Encoder-side workspace whose sorted block has `column` as its last column.
struct ColumnBlock {
    Bytes column;
    BlockWorkspace &workspace;
    ColumnBlock(VekCodec &codec, const Bytes &c) : column(c), workspace(codec.workspace) {
        workspace.lastColumn = column.data();
        workspace.blockLast = static_cast<int32_t>(column.size()) - 1;
    }
    ~ColumnBlock() { workspace.lastColumn = nullptr; }
};

// Codes blocks given as (column, primary index, last flag) into a file and
// returns the coded bytes after the header.
struct BlockSpec {
    Bytes column;
    int32_t primary;
    int isLast;
};

Bytes encodeBlocks(VekCodec &codec, StreamBuffer &stream, const std::vector<BlockSpec> &blocks) {
    codec.startEncoder(stream.sink(), ZERO_HEADER);
    for (const BlockSpec &b : blocks) {
        ColumnBlock block(codec, b.column);
        codec.workspace.primaryIndex = b.primary;
        codec.encodeBlockSymbols(b.isLast);
    }
    codec.finishEncoder();
    const Bytes &all = stream.bytes();
    return Bytes(all.begin() + VEK_HEADER_SIZE, all.end());
}

// Decoder workspace of the given block factor over a written stream.
struct Decoding {
    VekCodec &codec;
    Decoding(VekCodec &c, StreamBuffer &stream, uint32_t blockFactor) : codec(c) {
        ByteSource &in = stream.source();
        codec.startDecoderReader(in);
        in.seekTo(VEK_HEADER_SIZE);
        codec.BlockFactor = blockFactor;
        allocInverseBuffers(codec.workspace, size_t(blockFactor) * BLOCK_UNIT);
        codec.startDecoderCoder();
    }
    ~Decoding() { freeInverseBuffers(codec.workspace); }
    Bytes column() const {
        const BlockWorkspace &w = codec.workspace;
        return Bytes(w.lastColumn, w.lastColumn + w.blockLast + 1);
    }
};

} // namespace

TEST(SymbolCoder, KnownStreamsForTwoLastBlocks) {
    auto codec = std::make_unique<VekCodec>();
    StreamBuffer stream;
    EXPECT_EQ(encodeBlocks(*codec, stream, {{Bytes{0x7F}, 0, 1}}),
              (Bytes{0x80, 0x00, 0x00, 0x00, 0x17, 0x49, 0xB8, 0xF7, 0xFF}));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(codec->decodeBlockSymbols(), 1);
        EXPECT_EQ(d.column(), Bytes{0x7F});
        EXPECT_EQ(codec->workspace.primaryIndex, 0);
    }
    EXPECT_EQ(encodeBlocks(*codec, stream, {{Bytes{6, 2}, 0, 1}}),
              (Bytes{0x80, 0x00, 0x00, 0x00, 0x4A, 0xAD, 0x11, 0x12, 0x7F}));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(codec->decodeBlockSymbols(), 1);
        EXPECT_EQ(d.column(), (Bytes{6, 2}));
        EXPECT_EQ(codec->workspace.primaryIndex, 0);
    }
}

TEST(SymbolCoder, SymbolSequenceOfRanksRunsAndBuckets) {
    // Column 5 5 5 0 from the identity list: rank 5 (bucket 2, offset 2),
    // a run of two rank-0 bytes (digit 2), then rank 1. Then ranks 2, 3,
    // 128 and 255 and a run of 14 that reaches the end of the block.
    Bytes column = {5, 5, 5, 0};
    auto appendRank = [&column](int rank) {
        // The byte that currently sits at `rank` in the list; compute by
        // simulating the list.
        uint8_t list[256];
        for (int k = 0; k < 256; ++k) list[k] = static_cast<uint8_t>(k);
        for (uint8_t c : column) {
            int r = 0;
            while (list[r] != c) ++r;
            for (; r > 0; --r) list[r] = list[r - 1];
            list[0] = c;
        }
        column.push_back(list[rank]);
    };
    for (int rank : {2, 3, 128, 255}) appendRank(rank);
    for (int k = 0; k < 14; ++k) column.push_back(column.back());

    auto codec = std::make_unique<VekCodec>();
    StreamBuffer stream;
    encodeBlocks(*codec, stream, {{column, 3, 0}});

    // Read the stream symbol by symbol with the same models.
    Decoding d(*codec, stream, 1);
    EXPECT_EQ(codec->decodeValue32(), 4u) << "start value of a block that is not the last";
    codec->resetSymbolModels();
    auto main = [&] { return codec->decodeSymbol(codec->mainModel()); };
    auto offset = [&](int b) { return codec->decodeSymbol(codec->symbolModels[b]); };
    EXPECT_EQ(main(), 5u);  // SYM_BUCKET_2
    EXPECT_EQ(offset(2), 2u);
    EXPECT_EQ(main(), 1u);  // SYM_RUN_2
    EXPECT_EQ(main(), 3u);  // SYM_RANK_1
    EXPECT_EQ(main(), 4u);  // SYM_BUCKET_1, rank 2
    EXPECT_EQ(offset(1), 1u);
    EXPECT_EQ(main(), 4u);  // rank 3
    EXPECT_EQ(offset(1), 2u);
    EXPECT_EQ(main(), 10u);  // SYM_BUCKET_7, rank 128
    EXPECT_EQ(offset(7), 1u);
    EXPECT_EQ(main(), 10u);  // rank 255
    EXPECT_EQ(offset(7), 128u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(main(), 1u) << "run of 14 is 2 2 2";
    EXPECT_EQ(main(), 11u);  // SYM_END
}

TEST(SymbolCoder, RunLengthDigitsRoundTrip) {
    // Runs of every length up to 300 and a few large ones, each followed by
    // a rank-1 byte, in blocks that are and are not the last.
    auto codec = std::make_unique<VekCodec>();
    StreamBuffer stream;
    std::vector<BlockSpec> blocks;
    for (uint32_t n : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 14u, 255u, 256u, 300u, 4095u, 16383u}) {
        Bytes column(n, 0);
        column.push_back(1);
        blocks.push_back({column, static_cast<int32_t>(n / 2), n == 16383u});
    }
    encodeBlocks(*codec, stream, blocks);
    Decoding d(*codec, stream, 2);
    for (const BlockSpec &b : blocks) {
        ASSERT_EQ(codec->decodeBlockSymbols(), b.isLast);
        EXPECT_EQ(d.column(), b.column);
        EXPECT_EQ(codec->workspace.primaryIndex, b.primary);
    }
}

TEST(SymbolCoder, RandomColumnsRoundTrip) {
    auto codec = std::make_unique<VekCodec>();
    StreamBuffer stream;
    std::vector<BlockSpec> blocks;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        Bytes column = randomBytes(1000 * seed, seed, seed * 40);
        blocks.push_back({column, static_cast<int32_t>(seed * 77), seed == 6});
    }
    encodeBlocks(*codec, stream, blocks);
    Decoding d(*codec, stream, 1);
    for (const BlockSpec &b : blocks) {
        ASSERT_EQ(codec->decodeBlockSymbols(), b.isLast);
        EXPECT_EQ(d.column(), b.column);
        EXPECT_EQ(codec->workspace.primaryIndex, b.primary);
    }
}

TEST(SymbolCoder, DecoderCountsTheColumnItWrites) {
    // The inverse transform takes the byte counts and the number of byte
    // changes from the symbol decoder: they must match the column, for
    // blocks that start with a run of the list's front byte (0) or of
    // another byte, one byte long, constant, or random with runs.
    auto codec = std::make_unique<VekCodec>();
    StreamBuffer stream;
    std::vector<BlockSpec> blocks;
    blocks.push_back({Bytes(300, 0), 5, 0});
    blocks.push_back({Bytes(300, 7), 0, 0});
    blocks.push_back({Bytes{9}, 0, 0});
    Bytes startsWithZeros(40, 0);
    for (uint8_t b : randomBytes(2000, 3, 4)) startsWithZeros.push_back(b);
    blocks.push_back({startsWithZeros, 17, 0});
    blocks.push_back({randomBytes(5000, 8, 256), 4999, 0});
    blocks.push_back({randomBytes(5000, 9, 3), 1234, 1});
    encodeBlocks(*codec, stream, blocks);
    Decoding d(*codec, stream, 1);
    for (const BlockSpec &b : blocks) {
        codec->decodeBlockSymbols();
        ASSERT_EQ(d.column(), b.column);
        const ColumnCounts counts = countColumn(b.column);
        for (int c = 0; c < 256; ++c) ASSERT_EQ(codec->workspace.byteCounts[c], counts.bytes[c]) << "byte " << c;
        EXPECT_EQ(codec->workspace.columnChanges, counts.changes);
    }
}

TEST(SymbolCoder, BlockCapacityIsEnforcedForRunsAndRanks) {
    auto codec = std::make_unique<VekCodec>();
    StreamBuffer stream;
    // Exactly the capacity of block factor 1 decodes.
    encodeBlocks(*codec, stream, {{Bytes(BLOCK_UNIT, 0), 0, 1}});
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(codec->decodeBlockSymbols(), 1);
        EXPECT_EQ(codec->workspace.blockLast, static_cast<int32_t>(BLOCK_UNIT) - 1);
    }
    // One more byte from a run fails.
    encodeBlocks(*codec, stream, {{Bytes(BLOCK_UNIT + 1, 0), 0, 1}});
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(codec->decodeBlockSymbols(), VekFailure);
    }
    // One more byte from a rank fails.
    Bytes column(BLOCK_UNIT, 0);
    column.push_back(9);
    encodeBlocks(*codec, stream, {{column, 0, 1}});
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(codec->decodeBlockSymbols(), VekFailure);
    }
}

TEST(SymbolCoder, ImpossibleBlockStartsAreDamage) {
    auto codec = std::make_unique<VekCodec>();
    StreamBuffer stream;
    auto writeRaw = [&](uint32_t start, const Bytes &column) {
        codec->startEncoder(stream.sink(), ZERO_HEADER);
        codec->encodeValue32(start);
        codec->resetSymbolModels();
        for (size_t i = 0; i < column.size(); ++i) codec->encodeSymbol(codec->mainModel(), 3);
        codec->encodeSymbol(codec->mainModel(), 11);
        codec->finishEncoder();
    };
    // Start value 0: no encoder writes it.
    writeRaw(0, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(codec->decodeBlockSymbols(), VekFailure);
    }
    // Primary index 3 in a block of three bytes.
    writeRaw(4, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(codec->decodeBlockSymbols(), VekFailure);
    }
    // The most negative start value, primary index 2^31 - 1.
    writeRaw(0x80000000u, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(codec->decodeBlockSymbols(), VekFailure);
    }
    // A block that ends before its first byte.
    writeRaw(1, Bytes());
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(codec->decodeBlockSymbols(), VekFailure);
    }
    // Primary index 2, the last row, is fine; so is the last-block form.
    writeRaw(3, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(codec->decodeBlockSymbols(), 0);
        EXPECT_EQ(codec->workspace.primaryIndex, 2);
    }
    writeRaw(~2u, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(codec->decodeBlockSymbols(), 1);
        EXPECT_EQ(codec->workspace.primaryIndex, 2);
    }
}
