// The arithmetic coder, its models and bit I/O, checked against known
// streams and by round trips through a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "arithmetic_coder.h"
#include "test_support.h"
#include "vek_format.h"
#include "work_buffers.h"

using namespace testsupport;

namespace {

const uint8_t ZERO_HEADER[VEK_HEADER_SIZE] = {0};

struct Coders {
    RangeEncoder encoder;
    RangeDecoder decoder;
};

// Runs `body` between the start and the finish of the encoder into `stream`
// (after 12 header bytes) and returns the coded bytes.
template <typename Body> Bytes encodeToBytes(Coders &codec, StreamBuffer &stream, Body body) {
    codec.encoder.start(stream.sink(), ZERO_HEADER, VEK_HEADER_SIZE);
    body(codec.encoder);
    codec.encoder.finish();
    const Bytes &all = stream.bytes();
    return Bytes(all.begin() + VEK_HEADER_SIZE, all.end());
}

// Primes the decoder on the stream that encodeToBytes wrote.
void startDecoding(Coders &codec, StreamBuffer &stream) {
    ByteSource &in = stream.source();
    in.seekTo(VEK_HEADER_SIZE);
    codec.decoder.start(in, in.size() - VEK_HEADER_SIZE);
    codec.decoder.startCoder();
}

} // namespace

TEST(ArithmeticCoder, KnownStreamForOneValue) {
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    Bytes coded = encodeToBytes(*codec, stream, [](RangeEncoder &c) { c.encodeValue32(1); });
    EXPECT_EQ(coded, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}));

    startDecoding(*codec, stream);
    EXPECT_EQ(codec->decoder.decodeValue32(), 1u);
    EXPECT_EQ(codec->decoder.remaining, 0) << "a complete stream is taken exactly";
}

TEST(ArithmeticCoder, ExtremeValuesRoundTripAndFirstBitIsZero) {
    const uint32_t values[] = {0u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 12345678u, 0xFFFFFFFEu};
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    Bytes coded = encodeToBytes(*codec, stream, [&](RangeEncoder &c) {
        for (uint32_t v : values) c.encodeValue32(v);
    });
    ASSERT_FALSE(coded.empty());
    EXPECT_EQ(coded[0] & 0x80, 0x80) << "the first stream bit is 0, stored complemented";

    startDecoding(*codec, stream);
    for (uint32_t v : values) EXPECT_EQ(codec->decoder.decodeValue32(), v);
}

TEST(FrequencyModel, HalvingRoundsUpAndKeepsTotal) {
    auto codec = std::make_unique<Coders>();
    FrequencyModel m;
    initModel(m, 5, 1, 100);
    m.freq[1] = 1;
    m.freq[2] = 2;
    m.freq[3] = 3;
    m.freq[4] = 8;
    m.freq[5] = 8;  // total 22
    m.total = 22;
    m.limit = 23;
    coder::rebuildCumulative(m);
    StreamBuffer stream;
    // Coding symbol 5 brings total to 23 = limit: no halving.
    encodeToBytes(*codec, stream, [&](RangeEncoder &c) { c.encodeSymbol(m, 5); });
    EXPECT_EQ(m.total, 23u);
    EXPECT_EQ(m.freq[5], 9u);
    // Passing the limit halves every count, rounding up: 1,2,3,8,10 -> 1,1,2,4,5.
    encodeToBytes(*codec, stream, [&](RangeEncoder &c) { c.encodeSymbol(m, 5); });
    EXPECT_EQ(m.freq[1], 1u);
    EXPECT_EQ(m.freq[2], 1u);
    EXPECT_EQ(m.freq[3], 2u);
    EXPECT_EQ(m.freq[4], 4u);
    EXPECT_EQ(m.freq[5], 5u);
    EXPECT_EQ(m.total, 13u);
    EXPECT_EQ(m.freq[0], 0u);
    EXPECT_EQ(m.freq[6], 0u);
}

TEST(FrequencyModel, ReciprocalDivisionIsExact) {
    // range / total by a multiplication, for every total the reciprocals
    // cover and numerators around each multiple near the ends of the range.
    std::mt19937 rng(5);
    for (uint32_t d = 1; d <= coder::RECIPROCAL_LIMIT; ++d) {
        const uint32_t top = (0x4000000u - 1) / d;  // largest quotient below 2^26
        for (uint32_t q : {0u, 1u, 2u, top / 2, top - 1, top, static_cast<uint32_t>(rng() % (top + 1))}) {
            for (int32_t delta : {-1, 0, 1}) {
                const int64_t x = static_cast<int64_t>(q) * d + delta;
                if (x < 0 || x >= 0x4000000) continue;
                ASSERT_EQ(coder::divideByTotal(static_cast<uint32_t>(x), d), static_cast<uint32_t>(x) / d) << x << " / " << d;
            }
        }
    }
    EXPECT_EQ(coder::divideByTotal(0x2000000, 5000), 0x2000000u / 5000) << "beyond the table it divides";
}

TEST(FrequencyModel, VectorCountMatchesThePlainCount) {
    // Rising entries then entries above every total, as the models keep
    // them, counted at or below every value that matters.
    std::mt19937 rng(9);
    alignas(16) int16_t entries[24];
    for (int trial = 0; trial < 2000; ++trial) {
        const uint32_t vectors = 1 + rng() % 3;
        const uint32_t live = rng() % (8 * vectors + 1);
        int16_t value = static_cast<int16_t>(rng() % 3);
        for (uint32_t k = 0; k < 24; ++k) {
            entries[k] = k < live ? value : coder::PAST_LAST;
            value = static_cast<int16_t>(value + 1 + rng() % 200);
        }
        for (uint32_t t = 0; t < 3300; t += 1 + rng() % 40)
            ASSERT_EQ(coder::countAtMost(entries, vectors, t), coder::countAtMostPlain(entries, vectors, t))
                << trial << " " << t;
    }
}

TEST(FrequencyModel, DecodedSymbolWithoutDivisionMatchesTheDivision) {
    // The decoder compares code with q times each cumulative count instead
    // of dividing: adapted models of the symbol coder's sizes, every range,
    // codes at and around each symbol's boundaries, and the codes of damaged
    // data (at or beyond range, past 2^26 and 2^31), which must still give
    // a symbol of the model, the one the division gives.
    std::mt19937 rng(13);
    const uint32_t sizes[] = {2, 4, 8, 11, 16, 32, 128};
    for (uint32_t n : sizes) {
        FrequencyModel model;
        initModel(model, n, 3, 3200);
        for (int trial = 0; trial < 400; ++trial) {
            for (int k = 0; k < 30; ++k) coder::updateModel(model, 1 + (rng() % 4 == 0 ? rng() % n : rng() % (1 + n / 4)));
            const uint32_t range = 0x1000001 + rng() % 0x1000000;
            const uint32_t q = coder::divideByTotal(range, model.total);
            std::vector<uint32_t> codes = {range - 1, range, q * model.total, 0x3FFFFFF, 0x4000000, 0x7FFFFFFF,
                                           0x80000000, 0xFFFFFFFF, static_cast<uint32_t>(rng())};
            uint32_t cum = 0;
            for (uint32_t s = 1; s <= n; ++s) {
                cum += model.freq[s];
                for (uint32_t delta : {0u, 1u}) codes.push_back(q * cum - delta);
            }
            for (uint32_t code : codes) {
                uint32_t t = code / q;
                if (t > model.total - 1) t = model.total - 1;
                const uint32_t expected = coder::symbolCovering(model, t);
                if (n < 12) {
                    ASSERT_EQ(coder::decodedSymbol<coder::MAIN_MODEL>(model, q, code), expected) << n << " " << code;
                }
                ASSERT_EQ(coder::decodedSymbol<coder::BUCKET_MODEL>(model, q, code), expected) << n << " " << code;
#if defined(__SSE2__)
                // The interval's ends straight from the comparisons: the
                // symbol's low end, and its high end or range for symbol n.
                const uint32_t low = q * coder::cumulativeBelow(model, expected);
                const uint32_t high = expected < n ? low + q * model.freq[expected] : range;
                std::vector<coder::SymbolSpan> spans;
                if (n <= 16) spans.push_back(coder::symbolSpan<4>(model, q, range, code));
                if (n <= 12) {
                    coder::ModelLanes lanes(model, true);
                    spans.push_back(coder::spanOf<3>(lanes.cum0, lanes.cum1, lanes.cum2, coder::Ints{}, n, q, range, code));
                }
                for (const coder::SymbolSpan &span : spans) {
                    ASSERT_EQ(span.symbol, expected) << n << " " << code;
                    ASSERT_EQ(span.low, low) << n << " " << code;
                    ASSERT_EQ(span.high, high) << n << " " << code;
                    if (n >= 4) {
                        ASSERT_EQ(span.aboveFirst, (1u << std::min(expected, 4u)) - 1) << n << " " << code;
                    }
                }
#endif
            }
        }
    }
}

#if defined(__SSE2__)
TEST(FrequencyModel, ModelInRegistersAdaptsAsTheModel) {
    // The decoder's copy of a small model in registers, updated from the
    // comparisons and halved through the model, ends with the counts that
    // the plain update gives, symbol for symbol.
    std::mt19937 rng(21);
    for (uint32_t n : {2u, 5u, 11u, 12u}) {
        FrequencyModel plain, held;
        initModel(plain, n, 8, 900);
        initModel(held, n, 8, 900);
        coder::ModelLanes lanes(held, true);
        for (int k = 0; k < 3000; ++k) {
            const uint32_t symbol = 1 + (rng() % 3 == 0 ? rng() % n : rng() % (1 + n / 3));
            const uint32_t range = 0x1000001 + rng() % 0x1000000;
            const uint32_t q = coder::divideByTotal(range, lanes.total);
            const uint32_t code = q * coder::cumulativeBelow(plain, symbol) + rng() % (q * plain.freq[symbol]);
            const coder::SymbolSpan span = coder::spanOf<3>(lanes.cum0, lanes.cum1, lanes.cum2, coder::Ints{}, n, q, range, code);
            ASSERT_EQ(span.symbol, symbol) << n << " " << k;
            coder::updateModel(plain, symbol);
            lanes.total += held.increment;
            lanes.raise(span);
            if (lanes.total > held.limit) lanes.halve();
            ASSERT_EQ(lanes.total, plain.total) << n << " " << k;
        }
        lanes.store();
        for (uint32_t k = 0; k <= n + 1; ++k) ASSERT_EQ(held.freq[k], plain.freq[k]) << n << " " << k;
        for (uint32_t k = 0; k <= n; ++k) ASSERT_EQ(held.cum[k], plain.cum[k]) << n << " " << k;
    }
}
#endif

TEST(FrequencyModel, StaticModelNeverChanges) {
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    encodeToBytes(*codec, stream, [](RangeEncoder &c) {
        for (uint32_t v = 0; v < 5000; ++v) c.encodeValue32(v * 2654435761u);
    });
    EXPECT_EQ(codec->encoder.byteModel.total, 256u);
    for (int k = 1; k <= 256; ++k) ASSERT_EQ(codec->encoder.byteModel.freq[k], 1u) << k;
}

TEST(ArithmeticCoder, AdaptiveSymbolsRoundTripAcrossBufferBoundaries) {
    // Enough skewed symbols to pass several 64 KiB output chunks and force
    // many halvings in every model size the codec uses.
    const uint32_t sizes[] = {2, 4, 8, 11, 16, 32, 64, 128};
    const uint32_t increments[] = {12, 8, 6, 8, 3, 2, 1, 1};
    const uint32_t limits[] = {900, 1200, 1600, 900, 2000, 2200, 2400, 3200};
    const Bytes choice = randomBytes(1000000, 7);
    auto symbolAt = [&](size_t i) {
        const uint32_t m = i % 8;
        const uint32_t n = sizes[m];
        // Mostly small symbols, sometimes the highest one.
        const uint32_t r = choice[i];
        return r < 200 ? 1 + (r % 3) % n : (r == 255 ? n : 1 + r % n);
    };
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    FrequencyModel models[8];
    Bytes coded = encodeToBytes(*codec, stream, [&](RangeEncoder &c) {
        for (int m = 0; m < 8; ++m) initModel(models[m], sizes[m], increments[m], limits[m]);
        for (size_t i = 0; i < choice.size(); ++i) c.encodeSymbol(models[i % 8], symbolAt(i));
    });
    EXPECT_GT(coded.size(), 2 * IO_BUFFER_SIZE);

    startDecoding(*codec, stream);
    // The coded bytes left (the decoder's pipeline rules read them) start
    // below the stream's length by the 26 bits in the code register, fall
    // as symbols are decoded and end within the last of those bits.
    const int64_t length = static_cast<int64_t>(coded.size());
    int64_t left = codec->decoder.codedBytesLeft();
    EXPECT_LE(left, length - 3);
    EXPECT_GE(left, length - 4);
    for (int m = 0; m < 8; ++m) initModel(models[m], sizes[m], increments[m], limits[m]);
    for (size_t i = 0; i < choice.size(); ++i) {
        ASSERT_EQ(codec->decoder.decodeSymbol(models[i % 8]), symbolAt(i)) << "at symbol " << i;
        const int64_t now = codec->decoder.codedBytesLeft();
        ASSERT_LE(now, left) << "at symbol " << i;
        left = now;
    }
    EXPECT_LE(left, 4);
}

TEST(ArithmeticCoder, PaddingAndExactByteStreams) {
    // Each coded value adds 32 bits; with the 26 flushed bits the stream has
    // 58 bits for one value (padded to 8 bytes), and 26 + 32k bits in general.
    for (int values = 1; values <= 8; ++values) {
        auto codec = std::make_unique<Coders>();
        StreamBuffer stream;
        Bytes coded = encodeToBytes(*codec, stream, [&](RangeEncoder &c) {
            for (int k = 0; k < values; ++k) c.encodeValue32(0x01010101u * k);
        });
        const size_t bits = 26 + 32 * static_cast<size_t>(values);
        EXPECT_EQ(coded.size(), (bits + 7) / 8) << values;
        const unsigned padBits = static_cast<unsigned>(coded.size() * 8 - bits);
        const uint8_t padMask = static_cast<uint8_t>((1u << padBits) - 1);
        EXPECT_EQ(coded.back() & padMask, padMask) << "pad bits read as 1 in the file";
    }
}

TEST(ArithmeticCoder, ExhaustedInputTakesTheFailurePath) {
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    Bytes coded = encodeToBytes(*codec, stream, [](RangeEncoder &c) {
        for (uint32_t v = 0; v < 100; ++v) c.encodeValue32(v);
    });
    // Cut the file in the middle of the stream.
    stream.bytes().resize(VEK_HEADER_SIZE + coded.size() / 2);
    startDecoding(*codec, stream);
    EXPECT_THROW(
        {
            for (int k = 0; k < 100; ++k) codec->decoder.decodeValue32();
        },
        VekFailure);

    // A file shorter than its header fails at the first bit.
    stream.bytes() = Bytes{0x56, 0x45};
    codec->decoder.start(stream.source(), static_cast<int64_t>(stream.bytes().size()) - VEK_HEADER_SIZE);
    EXPECT_THROW(codec->decoder.startCoder(), VekFailure);
}

namespace {

// The coder written plainly: counts summed one by one, one bit per
// renormalisation step, bits held back one at a time. The codec's faster
// coder must give exactly its bytes.
struct PlainModel {
    uint32_t total, n, increment, limit;
    std::vector<uint32_t> freq;
    PlainModel(uint32_t symbols, uint32_t inc, uint32_t lim)
        : total(symbols * (inc == 0 ? 1 : inc)), n(symbols), increment(inc), limit(lim),
          freq(symbols + 1, inc == 0 ? 1 : inc) {}
    void update(uint32_t s) {
        total += increment;
        freq[s] += increment;
        if (total > limit) {
            total = 0;
            for (uint32_t k = 1; k <= n; ++k) {
                freq[k] = (freq[k] + 1) / 2;
                total += freq[k];
            }
        }
    }
};

struct PlainEncoder {
    uint32_t low = 0, range = 0x2000000, pending = 0;
    std::vector<uint8_t> bits;
    void put(uint32_t bit) {
        bits.push_back(static_cast<uint8_t>(bit));
        for (; pending > 0; --pending) bits.push_back(static_cast<uint8_t>(bit ^ 1));
    }
    void encode(PlainModel &m, uint32_t s) {
        uint32_t cumLow = 0;
        for (uint32_t k = 1; k < s; ++k) cumLow += m.freq[k];
        const uint32_t q = range / m.total;
        low += q * cumLow;
        range = cumLow + m.freq[s] < m.total ? q * m.freq[s] : range - q * cumLow;
        while (range <= 0x1000000) {
            if (low + range <= 0x2000000) {
                put(0);
            } else if (low >= 0x2000000) {
                put(1);
                low -= 0x2000000;
            } else {
                ++pending;
                low -= 0x1000000;
            }
            low <<= 1;
            range <<= 1;
        }
        m.update(s);
    }
    Bytes finish() {
        for (int p = 25; p >= 0; --p) put((low >> p) & 1);
        while (bits.size() % 8 != 0) bits.push_back(0);
        Bytes out;
        for (size_t i = 0; i < bits.size(); i += 8) {
            uint32_t byte = 0;
            for (size_t k = 0; k < 8; ++k) byte = (byte << 1) | bits[i + k];
            out.push_back(static_cast<uint8_t>(~byte));
        }
        return out;
    }
};

} // namespace

TEST(ArithmeticCoder, SameBytesAsThePlainCoder) {
    // Every model size the codec uses, long skewed runs (many held-back bits
    // and halvings) mixed with spread-out symbols; the decoder takes them
    // back and its models end in the same counts.
    const uint32_t sizes[] = {2, 4, 8, 11, 16, 32, 64, 128, 256};
    const uint32_t increments[] = {12, 8, 6, 8, 3, 2, 1, 1, 24};
    const uint32_t limits[] = {900, 1200, 1600, 900, 2000, 2200, 2400, 3200, 3200};
    const size_t MODELS = 9;
    const Bytes choice = randomBytes(600000, 31);
    std::vector<uint32_t> symbols(choice.size()), which(choice.size());
    for (size_t i = 0; i < choice.size(); ++i) {
        // Stretches of one model and one frequent symbol, then stretches of
        // any model and any symbol.
        const bool skewed = (i / 5000) % 2 == 0;
        which[i] = skewed ? (i / 5000 / 2) % MODELS : choice[i] % MODELS;
        const uint32_t n = sizes[which[i]];
        const uint32_t r = choice[(i * 7 + 3) % choice.size()];
        symbols[i] = skewed ? (r < 250 ? n - (i / 10000) % n : 1 + r % n) : 1 + r % n;
    }
    PlainEncoder plain;
    std::vector<PlainModel> plainModels;
    for (size_t m = 0; m < MODELS; ++m) plainModels.emplace_back(sizes[m], increments[m], limits[m]);
    for (size_t i = 0; i < symbols.size(); ++i) plain.encode(plainModels[which[i]], symbols[i]);
    const Bytes expected = plain.finish();

    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    std::vector<FrequencyModel> models(MODELS);
    const Bytes coded = encodeToBytes(*codec, stream, [&](RangeEncoder &c) {
        for (size_t m = 0; m < MODELS; ++m) initModel(models[m], sizes[m], increments[m], limits[m]);
        for (size_t i = 0; i < symbols.size(); ++i) c.encodeSymbol(models[which[i]], symbols[i]);
    });
    ASSERT_EQ(coded.size(), expected.size());
    ASSERT_TRUE(coded == expected);

    startDecoding(*codec, stream);
    for (size_t m = 0; m < MODELS; ++m) initModel(models[m], sizes[m], increments[m], limits[m]);
    for (size_t i = 0; i < symbols.size(); ++i) ASSERT_EQ(codec->decoder.decodeSymbol(models[which[i]]), symbols[i]) << i;
    for (size_t m = 0; m < MODELS; ++m) {
        EXPECT_EQ(models[m].total, plainModels[m].total);
        for (uint32_t k = 1; k <= sizes[m]; ++k) ASSERT_EQ(models[m].freq[k], plainModels[m].freq[k]) << m << " " << k;
    }
}

TEST(ArithmeticCoder, RenormalisationFromAnyStateMatchesOneDoublingAtATime) {
    // The encoder doubles its interval all at once; from arbitrary register
    // states (tiny ranges after narrowing, intervals at either end of the
    // register, many held-back bits) it must emit the bits, and leave the
    // low, range and held-back count, that one doubling at a time gives.
    std::mt19937 rng(7);
    const uint32_t sizes[] = {2, 3, 11, 256};
    PlainEncoder plain;
    std::vector<PlainModel> plainModels;
    for (uint32_t n : sizes) plainModels.emplace_back(n, 0, 4000);
    auto codec = std::make_unique<Coders>();
    StreamBuffer stream;
    std::vector<FrequencyModel> models(4);
    const Bytes coded = encodeToBytes(*codec, stream, [&](RangeEncoder &c) {
        for (size_t m = 0; m < 4; ++m) initModel(models[m], sizes[m], 0, 4000);
        for (int trial = 0; trial < 300000; ++trial) {
            const size_t m = rng() % 4;
            const uint32_t n = sizes[m];
            uint32_t range;
            switch (rng() % 3) {
            case 0: range = n + rng() % (0x2000000 - n + 1); break;           // any
            case 1: range = n + (rng() >> (rng() % 32)) % (0x2000000 - n + 1); break;  // often small
            default: range = n + rng() % 4; break;                            // the smallest
            }
            const uint32_t low = rng() % (0x4000000 - range + 1);
            const uint32_t pending = rng() % 4 == 0 ? rng() % 50 : 0;
            const uint32_t symbol = 1 + rng() % n;
            plain.low = c.low = low;
            plain.range = c.range = range;
            plain.pending = c.pending = pending;
            plain.encode(plainModels[m], symbol);
            c.encodeSymbol(models[m], symbol);
            ASSERT_EQ(c.low, plain.low) << trial;
            ASSERT_EQ(c.range, plain.range) << trial;
            ASSERT_EQ(c.pending, plain.pending) << trial;
        }
    });
    const Bytes expected = plain.finish();
    ASSERT_EQ(coded.size(), expected.size());
    EXPECT_TRUE(coded == expected);
    EXPECT_GT(coded.size(), 3 * 65536u) << "the output buffer is written out several times";
}

TEST(ArithmeticCoder, BlockRegistersGiveThePlainCodersBytes) {
    // The registers of the block loop let carries run into the stream bits
    // already passed on instead of holding bits back. From arbitrary states,
    // many with long held-back runs (carries across dozens of bytes, or runs
    // settled without one), and handing the state back in the middle, they
    // must give the plain coder's bytes.
    std::mt19937 rng(11);
    const uint32_t sizes[] = {2, 11, 128};
    const uint32_t increments[] = {12, 8, 1};
    const uint32_t limits[] = {900, 900, 3200};
    auto codec = std::make_unique<Coders>();
    for (int trial = 0; trial < 3000; ++trial) {
        PlainEncoder plain;
        std::vector<PlainModel> plainModels;
        std::vector<FrequencyModel> models(3);
        for (size_t m = 0; m < 3; ++m) {
            plainModels.emplace_back(sizes[m], increments[m], limits[m]);
            initModel(models[m], sizes[m], increments[m], limits[m]);
        }
        const uint32_t range = 0x1000001 + rng() % 0x1000000;
        const uint32_t low = rng() % (0x4000000 - range + 1);
        const uint32_t pending = rng() % 2 == 0 ? rng() % 400 : rng() % 3;
        // Mostly one end of the model or the other, which keeps the interval
        // near a boundary for long stretches.
        std::vector<std::pair<size_t, uint32_t>> symbols;
        for (int k = 0; k < 200; ++k) {
            const size_t m = rng() % 3;
            const uint32_t r = rng() % 8;
            symbols.emplace_back(m, r < 3 ? 1 : r < 6 ? sizes[m] : 1 + rng() % sizes[m]);
        }
        StreamBuffer stream;
        const Bytes coded = encodeToBytes(*codec, stream, [&](RangeEncoder &c) {
            plain.low = c.low = low;
            plain.range = c.range = range;
            plain.pending = c.pending = pending;
            const size_t handBack = rng() % symbols.size();
            for (size_t part = 0; part < 2; ++part) {
                EncoderRegisters registers(c);
                for (size_t k = part == 0 ? 0 : handBack; k < (part == 0 ? handBack : symbols.size()); ++k)
                    registers.encode<coder::BUCKET_MODEL>(models[symbols[k].first], symbols[k].second);
                registers.store();
            }
        });
        for (const auto &s : symbols) plain.encode(plainModels[s.first], s.second);
        const Bytes expected = plain.finish();
        ASSERT_EQ(coded, expected) << "trial " << trial;
    }
}
