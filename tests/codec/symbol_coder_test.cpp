// The move-to-front and zero-run symbol coder: known streams, the exact
// symbol sequence, and the decoder's bounds on damaged blocks.
#include <gtest/gtest.h>

#include <memory>

#include "block_sort.h"
#include "test_support.h"
#include "symbol_coder.h"
#include "vek_format.h"
#include "work_buffers.h"

using namespace testsupport;

namespace {

const uint8_t ZERO_HEADER[VEK_HEADER_SIZE] = {0};

// The stages the symbol coder runs on: a range coder each way and its
// models.
struct Coders {
    RangeEncoder encoder;
    RangeDecoder decoder;
    SymbolModels models;
};

// Codes blocks given as (column, primary index, last flag) into a file and
// returns the coded bytes after the header.
struct BlockSpec {
    Bytes column;
    int32_t primary;
    int isLast;
};

Bytes encodeBlocks(Coders &codec, StreamBuffer &stream, const std::vector<BlockSpec> &blocks) {
    codec.encoder.start(stream.sink(), ZERO_HEADER, VEK_HEADER_SIZE);
    for (const BlockSpec &b : blocks)
        encodeColumn(codec.encoder, codec.models, b.column.data(), static_cast<int32_t>(b.column.size()) - 1, b.primary,
                     b.isLast);
    codec.encoder.finish();
    const Bytes &all = stream.bytes();
    return Bytes(all.begin() + VEK_HEADER_SIZE, all.end());
}

// The symbol decoder for blocks of the given block factor over a written
// stream.
struct Decoding {
    Coders &codec;
    size_t capacity;
    Bytes buffer;
    DecodedColumn decoded;
    Decoding(Coders &c, StreamBuffer &stream, uint32_t blockFactor)
        : codec(c), capacity(size_t(blockFactor) * BLOCK_UNIT), buffer(capacity) {
        ByteSource &in = stream.source();
        in.seekTo(VEK_HEADER_SIZE);
        codec.decoder.start(in, in.size() - VEK_HEADER_SIZE);
        codec.decoder.startCoder();
        decoded.column = buffer.data();
    }
    int block() { return decodeColumn(codec.decoder, codec.models, capacity, decoded); }
    Bytes column() const { return Bytes(decoded.column, decoded.column + decoded.blockLast + 1); }
};

} // namespace

TEST(SymbolCoder, KnownStreamsForTwoLastBlocks) {
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    EXPECT_EQ(encodeBlocks(*codec, stream, {{Bytes{0x7F}, 0, 1}}),
              (Bytes{0x80, 0x00, 0x00, 0x00, 0x17, 0x49, 0xB8, 0xF7, 0xFF}));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(d.block(), 1);
        EXPECT_EQ(d.column(), Bytes{0x7F});
        EXPECT_EQ(d.decoded.primaryIndex, 0);
    }
    EXPECT_EQ(encodeBlocks(*codec, stream, {{Bytes{6, 2}, 0, 1}}),
              (Bytes{0x80, 0x00, 0x00, 0x00, 0x4A, 0xAD, 0x11, 0x12, 0x7F}));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(d.block(), 1);
        EXPECT_EQ(d.column(), (Bytes{6, 2}));
        EXPECT_EQ(d.decoded.primaryIndex, 0);
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

    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    encodeBlocks(*codec, stream, {{column, 3, 0}});

    // Read the stream symbol by symbol with the same models.
    Decoding d(*codec, stream, 1);
    EXPECT_EQ(codec->decoder.decodeValue32(), 4u) << "start value of a block that is not the last";
    codec->models.reset();
    auto main = [&] { return codec->decoder.decodeSymbol(codec->models.main()); };
    auto offset = [&](int b) { return codec->decoder.decodeSymbol(codec->models.models[b]); };
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
    // Runs of lengths around the eight-byte words that the encoder from
    // ranks passes over at once, and a few large ones, each followed by a
    // rank-1 byte or reaching the block's end, in blocks that are and are
    // not the last. The encoder from ranks gives the same bytes.
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    std::vector<BlockSpec> blocks;
    const uint32_t lengths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 14, 15, 16, 17, 23, 24, 25, 255, 256, 300, 4095, 16383};
    for (uint32_t n : lengths) {
        for (bool toEnd : {false, true}) {
            Bytes column(n, 0);
            if (toEnd)
                column.insert(column.begin(), 7);
            else
                column.push_back(1);
            blocks.push_back({column, static_cast<int32_t>(n / 2), n == 16383u && toEnd});
        }
    }
    const Bytes coded = encodeBlocks(*codec, stream, blocks);
    StreamBuffer fromRanks;
    codec->encoder.start(fromRanks.sink(), ZERO_HEADER, VEK_HEADER_SIZE);
    for (const BlockSpec &b : blocks) {
        Bytes ranks = b.column;
        const int32_t last = static_cast<int32_t>(ranks.size()) - 1;
        moveToFrontRanks(ranks.data(), last);
        encodeRanks(codec->encoder, codec->models, ranks.data(), last, b.primary, b.isLast);
    }
    codec->encoder.finish();
    EXPECT_TRUE(Bytes(fromRanks.bytes().begin() + VEK_HEADER_SIZE, fromRanks.bytes().end()) == coded);
    Decoding d(*codec, stream, 2);
    for (const BlockSpec &b : blocks) {
        ASSERT_EQ(d.block(), b.isLast);
        EXPECT_EQ(d.column(), b.column);
        EXPECT_EQ(d.decoded.primaryIndex, b.primary);
    }
}

TEST(SymbolCoder, ShortRunsFillExactlyTheirBytes) {
    // The decoder stores runs of up to 32 bytes with overlapping word
    // stores: every such length, inside a block and at the very end of a
    // block that fills the whole buffer (where a store past the run would
    // leave the buffer), into the column and into the ranks.
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    std::vector<BlockSpec> blocks;
    for (uint32_t n = 1; n <= 34; ++n) {
        Bytes column(BLOCK_UNIT - n);
        for (size_t i = 0; i < column.size(); ++i) column[i] = static_cast<uint8_t>(1 + i % 5);
        Bytes inside = column;
        inside.insert(inside.begin() + 100, n, inside[99]);
        inside.resize(BLOCK_UNIT);
        column.insert(column.end(), n, column.back());
        blocks.push_back({inside, 3, 0});
        blocks.push_back({column, 5, n == 34});
    }
    encodeBlocks(*codec, stream, blocks);
    for (bool ranks : {false, true}) {
        Decoding d(*codec, stream, 1);
        for (const BlockSpec &b : blocks) {
            if (!ranks) {
                ASSERT_EQ(d.block(), b.isLast);
                ASSERT_EQ(d.column(), b.column);
                continue;
            }
            ASSERT_EQ(decodeRanks(codec->decoder, codec->models, d.capacity, d.decoded, false), b.isLast);
            Bytes want = b.column;
            if (!b.isLast) moveToFrontRanks(want.data(), static_cast<int32_t>(want.size()) - 1);
            ASSERT_EQ(d.column(), want);
        }
    }
}

TEST(SymbolCoder, RandomColumnsRoundTrip) {
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    std::vector<BlockSpec> blocks;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        Bytes column = randomBytes(1000 * seed, seed, seed * 40);
        blocks.push_back({column, static_cast<int32_t>(seed * 77), seed == 6});
    }
    encodeBlocks(*codec, stream, blocks);
    Decoding d(*codec, stream, 1);
    for (const BlockSpec &b : blocks) {
        ASSERT_EQ(d.block(), b.isLast);
        EXPECT_EQ(d.column(), b.column);
        EXPECT_EQ(d.decoded.primaryIndex, b.primary);
    }
}

TEST(SymbolCoder, DecoderCountsTheColumnItWrites) {
    // The inverse transform takes the byte counts and the number of byte
    // changes from the symbol decoder: they must match the column, for
    // blocks that start with a run of the list's front byte (0) or of
    // another byte, one byte long, constant, or random with runs.
    auto codec = std::make_unique<Coders>();
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
        d.block();
        ASSERT_EQ(d.column(), b.column);
        const ColumnCounts counts = countColumn(b.column);
        for (int c = 0; c < 256; ++c) ASSERT_EQ(d.decoded.counts.bytes[c], counts.bytes[c]) << "byte " << c;
        EXPECT_EQ(d.decoded.counts.changes, counts.changes);
    }
}

TEST(SymbolCoder, BlockCapacityIsEnforcedForRunsAndRanks) {
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    // Exactly the capacity of block factor 1 decodes.
    encodeBlocks(*codec, stream, {{Bytes(BLOCK_UNIT, 0), 0, 1}});
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(d.block(), 1);
        EXPECT_EQ(d.decoded.blockLast, static_cast<int32_t>(BLOCK_UNIT) - 1);
    }
    // One more byte from a run fails.
    encodeBlocks(*codec, stream, {{Bytes(BLOCK_UNIT + 1, 0), 0, 1}});
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(d.block(), VekFailure);
    }
    // One more byte from a rank fails.
    Bytes column(BLOCK_UNIT, 0);
    column.push_back(9);
    encodeBlocks(*codec, stream, {{column, 0, 1}});
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(d.block(), VekFailure);
    }
}

TEST(SymbolCoder, ImpossibleBlockStartsAreDamage) {
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    auto writeRaw = [&](uint32_t start, const Bytes &column) {
        codec->encoder.start(stream.sink(), ZERO_HEADER, VEK_HEADER_SIZE);
        codec->encoder.encodeValue32(start);
        codec->models.reset();
        for (size_t i = 0; i < column.size(); ++i) codec->encoder.encodeSymbol(codec->models.main(), 3);
        codec->encoder.encodeSymbol(codec->models.main(), 11);
        codec->encoder.finish();
    };
    // Start value 0: no encoder writes it.
    writeRaw(0, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(d.block(), VekFailure);
    }
    // Primary index 3 in a block of three bytes.
    writeRaw(4, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(d.block(), VekFailure);
    }
    // The most negative start value, primary index 2^31 - 1.
    writeRaw(0x80000000u, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(d.block(), VekFailure);
    }
    // A block that ends before its first byte.
    writeRaw(1, Bytes());
    {
        Decoding d(*codec, stream, 1);
        EXPECT_THROW(d.block(), VekFailure);
    }
    // Primary index 2, the last row, is fine; so is the last-block form.
    writeRaw(3, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(d.block(), 0);
        EXPECT_EQ(d.decoded.primaryIndex, 2);
    }
    writeRaw(~2u, Bytes(3, 1));
    {
        Decoding d(*codec, stream, 1);
        EXPECT_EQ(d.block(), 1);
        EXPECT_EQ(d.decoded.primaryIndex, 2);
    }
}
