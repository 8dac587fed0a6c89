// Adaptive frequency models and the 26-bit binary arithmetic coder: a range
// encoder that writes the coded stream through its own buffer to a byte
// sink, and a range decoder that reads it through its own buffer from a
// byte source. They produce and read the format's coded stream (the models,
// the coder arithmetic and the complemented stream bytes); what the symbols
// mean is the symbol coder's (symbol_coder.h).
//
// The per-symbol steps are inline, for the loops that code a whole block:
// the coder registers live in local variables (EncoderRegisters,
// DecoderRegisters) for the length of a block and go back into the coder at
// its end, instead of passing through memory at every symbol.
// RangeEncoder::encodeSymbol and RangeDecoder::decodeSymbol run the same
// steps one symbol at a time.
#ifndef VEK_CODEC_ARITHMETIC_CODER_H
#define VEK_CODEC_ARITHMETIC_CODER_H

#include <array>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "byte_streams.h"

// An adaptive frequency table of up to 256 symbols, numbered 1 to n.
struct FrequencyModel {
    uint32_t total;        // sum of freq[1..n]
    uint32_t symbolCount;  // n
    uint32_t increment;    // added to a symbol's count after it is coded
    uint32_t limit;        // counts are halved once total passes this
    uint32_t freq[258];    // freq[0] and freq[n+1] stay 0
    // Running sums of freq, kept with every update so that a symbol's
    // cumulative count needs no scan, in groups of 16 symbols (0-15, 16-31,
    // ...): cum[k] sums the counts of k's group up to k, groupBase[g] the
    // counts before group g; entries past n lie above every total. Models
    // hold totals below 16,384.
    alignas(16) int16_t cum[272];
    alignas(16) int16_t groupBase[24];
    alignas(16) int16_t incrementLanes[8];  // the increment, eight times
    // All ones at the entries 0 .. 15 below n: which of the first group's
    // entries hold symbols (the decoder masks the others).
    alignas(16) int16_t belowN[16];
    // ceil(2^38 / total) (coder::RECIPROCALS) while total is within that
    // table, else 0: range / total as one multiplication whose factor is
    // at hand with the model, not loaded through total. Kept by initModel,
    // the halving and the decoder's updates (the encoder does not use it).
    uint64_t reciprocal;
};

// Sets a model of n symbols (n <= 256) to its starting counts: each
// `increment` (1 when 0: a model that never adapts), halved once the total
// passes `limit`.
void initModel(FrequencyModel &model, uint32_t n, uint32_t increment, uint32_t limit);

// The encoder: its registers, its output buffer and its sink.
class RangeEncoder {
public:
    // Starts a coded stream on `output`, after `prefixSize` bytes (the file
    // header, at most IO_BUFFER_SIZE) that go out as they are. The coded
    // bytes after the prefix may not pass 2^31 - 1 (a decoder counts them
    // in a signed 32-bit number): the failure exit instead.
    void start(ByteSink &output, const uint8_t *prefix, uint32_t prefixSize);
    void encodeSymbol(FrequencyModel &model, uint32_t symbol);
    // Four symbols of the flat byte model, the highest byte first.
    void encodeValue32(uint32_t value);
    // The last 26 bits of low, the padding of the last byte, and the buffer.
    void finish();
    // Writes buffer[0..used) to the sink.
    void writeChunk();

    uint32_t low, range, pending;
    uint32_t bitBuffer;  // bits collected for the next byte
    uint32_t bitsLeft;   // bits still to collect for it
    uint8_t buffer[IO_BUFFER_SIZE];
    uint32_t used;
    ByteSink *output;
    uint64_t written;  // bytes written to the sink
    uint64_t limit;    // the most it may take
    FrequencyModel byteModel;

private:
    void putBit(uint32_t bit);
};

// The decoder: its registers, its input buffer and its source.
class RangeDecoder {
public:
    // Starts reading the `codedBytes` bytes of a coded stream from where
    // `input` stands (-1 when its length cannot be told).
    void start(ByteSource &input, int64_t codedBytes);
    // Reads the first 26 bits into code: before the first block.
    void startCoder();
    uint32_t decodeSymbol(FrequencyModel &model);
    uint32_t decodeValue32();
    // Takes stored bytes into readerBits while there is room and data; fails
    // if fewer than `needed` bits are then at hand.
    void refillReader(uint32_t needed);
    // Coded bytes of the stream not yet decoded (to within a byte). (A
    // stream whose length is not known fails at its first symbol.)
    int64_t codedBytesLeft() const { return int64_t(remaining) + readerCount / 8; }

    uint32_t range, code;
    uint64_t readerBits;   // stream bits taken and not yet used, the next at bit 63
    uint32_t readerCount;  // how many
    uint8_t buffer[IO_BUFFER_SIZE];
    uint32_t avail;      // bytes of the buffer not yet taken
    uint32_t filled;     // bytes the buffer holds
    int32_t remaining;   // coded bytes not yet taken from buffer or source
    ByteSource *input;
    FrequencyModel byteModel;

private:
    uint32_t getBit();
    uint8_t readByte();
};

namespace coder {

const uint32_t HALF = 0x2000000;      // half of the 26-bit register
const uint32_t QUARTER = 0x1000000;   // renormalise while range <= this
const uint32_t CODE_BITS = 26;
const uint32_t REGISTER = 0x4000000;  // 2^26

// Eight cumulative counts side by side; GCC and Clang turn the operations on
// them into vector instructions where the machine has them.
typedef int16_t Lanes __attribute__((vector_size(16)));
const uint32_t LANES = 8;

inline Lanes loadLanes(const int16_t *p) {
    Lanes v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

inline void storeLanes(int16_t *p, Lanes v) {
    std::memcpy(p, &v, sizeof(v));
}

// FROM_INDEX[j]: entries j and above of 24 set to all ones, the others 0.
// (Arrays, not pointers to them: their addresses are constants of the code.)
extern const std::array<std::array<int16_t, 24>, 25> FROM_INDEX;

// The number of leading entries of p[0 .. 8 * vectors) at or below t, where
// the entries rise (strictly, or through equal values above t) so that those
// at or below t come first. vectors is 1 to 3.
inline uint32_t countAtMostPlain(const int16_t *p, uint32_t vectors, uint32_t t) {
    uint32_t count = 0;
    for (uint32_t k = 0; k < LANES * vectors; ++k) count += static_cast<uint32_t>(p[k]) <= t;
    return count;
}

inline uint32_t countAtMost(const int16_t *p, uint32_t vectors, uint32_t t) {
#if defined(__SSE2__)
    // One bit per entry above t, then the count of the zero bits below the
    // lowest one. p is 16-byte aligned.
    const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(t));
    const __m128i above0 = _mm_cmpgt_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(p)), limit);
    const __m128i above1 = vectors > 1 ? _mm_cmpgt_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(p + 8)), limit)
                                       : _mm_set1_epi16(-1);
    uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(above0, above1)));
    if (vectors > 2) {
        const __m128i above2 = _mm_cmpgt_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(p + 16)), limit);
        mask |= static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(above2, _mm_set1_epi16(-1)))) << 16;
    }
    return static_cast<uint32_t>(__builtin_ctz(mask | (1u << (8 * vectors))));
#else
    return countAtMostPlain(p, vectors, t);
#endif
}

// Symbols go in groups of GROUP (two vectors): cum[] holds running sums that
// restart at each group, groupBase[] the counts before each group.
const uint32_t GROUP = 16;

// Entries past the last symbol (of cum[] in the last group, and of
// groupBase[] past the last group): above every total, and far enough below
// the top of int16_t that the increments added between two halvings cannot
// reach it.
const int16_t PAST_LAST = 0x4000;

// The number of groups that hold symbols 0 .. n.
inline uint32_t groupCount(const FrequencyModel &model) { return model.symbolCount / GROUP + 1; }

// range / total by a multiplication: for d <= RECIPROCAL_LIMIT, with
// m = ceil(2^38 / d) (so m*d = 2^38 + e, 0 <= e < d), x*m / 2^38 is x/d plus
// x*e / (d * 2^38) < 2^26 * d / (d * 2^38) = 2^-12 <= 1/d, too little to
// reach the next multiple of 1/d: the floor is exact for every x < 2^26.
// The product x*m stays below 2^26 * 2^38 = 2^64. Larger totals (no model of
// the codec has them) divide.
const uint32_t RECIPROCAL_LIMIT = 4096;
extern const std::array<uint64_t, RECIPROCAL_LIMIT + 1> RECIPROCALS;

// Which models a call site codes with, so that steps can be left out:
// MAIN_MODEL for at most 12 symbols (one group, of which the decoder
// compares entries 0 to 11: the main model of the symbol coder),
// BUCKET_MODEL for the other models of the symbol coder, ANY_MODEL for any
// model. The symbol coder's totals stay within the reciprocal table
// (checked where its models are set up).
enum ModelShape { MAIN_MODEL, BUCKET_MODEL, ANY_MODEL };

// A model's `reciprocal` for its total.
template <ModelShape Shape = ANY_MODEL> inline uint64_t reciprocalOf(uint32_t total) {
    return Shape != ANY_MODEL || total <= RECIPROCAL_LIMIT ? RECIPROCALS[total] : 0;
}

// Recomputes cum[], groupBase[], belowN[] and reciprocal from freq[] and
// total: after initModel and after a halving.
void rebuildCumulative(FrequencyModel &model);

// Halves every count (rounding up, so none falls to 0) and rebuilds the
// running sums: once total has passed the limit. Inline for the encoder's
// loops (a call there costs more than the loop); halveCounts is the same
// out of line.
inline void halveInPlace(FrequencyModel &model) {
    model.total = 0;
    for (uint32_t k = model.symbolCount; k >= 1; --k) {
        model.freq[k] = (model.freq[k] + 1) / 2;
        model.total += model.freq[k];
    }
    rebuildCumulative(model);
}
void halveCounts(FrequencyModel &model);

// freq[1] + ... + freq[symbol - 1], for symbol >= 1 (the index is signed
// so that the - 1 can go into the address).
template <ModelShape Shape = ANY_MODEL> inline uint32_t cumulativeBelow(const FrequencyModel &model, uint32_t symbol) {
    const int64_t k = static_cast<int64_t>(symbol) - 1;
    if (Shape == MAIN_MODEL) return static_cast<uint32_t>(model.cum[k]);
    return static_cast<uint32_t>(model.groupBase[static_cast<uint64_t>(k) / GROUP]) + static_cast<uint32_t>(model.cum[k]);
}

// The running sums' part of the update (no halving): within the symbol's
// group, cum[k] += increment from the symbol on; the later groups start
// higher.
template <ModelShape Shape> inline __attribute__((always_inline)) void raiseFrom(FrequencyModel &model, uint32_t symbol) {
    const Lanes add = loadLanes(model.incrementLanes);
    const uint32_t group = Shape == MAIN_MODEL ? 0 : symbol / GROUP;
    int16_t *p = model.cum + group * GROUP;
    const int16_t *from = FROM_INDEX[Shape == MAIN_MODEL ? symbol : symbol % GROUP].data();
    storeLanes(p, loadLanes(p) + (add & loadLanes(from)));
    storeLanes(p + LANES, loadLanes(p + LANES) + (add & loadLanes(from + LANES)));
    if (Shape != MAIN_MODEL && model.symbolCount >= GROUP) {
        const int16_t *later = FROM_INDEX[group + 1].data();
        const uint32_t vectors = (groupCount(model) + LANES - 1) / LANES;
        for (uint32_t v = 0; v < vectors; ++v) {
            int16_t *g = model.groupBase + v * LANES;
            storeLanes(g, loadLanes(g) + (add & loadLanes(later + v * LANES)));
        }
    }
}

// The count update after coding `symbol` (both directions), with the halving
// once total passes the limit.
template <ModelShape Shape = ANY_MODEL>
inline __attribute__((always_inline)) void updateModel(FrequencyModel &model, uint32_t symbol) {
    const uint32_t increment = model.increment;
    model.total += increment;
    model.freq[symbol] += increment;
    if (model.total > model.limit) {
        halveInPlace(model);
        return;
    }
    raiseFrom<Shape>(model, symbol);
}

// The symbol s whose counts cover t (0 <= t < total): the first whose
// cumulative count passes t. Its group is the last one starting at or below
// t; within the group the running sums rise strictly (and the first group
// starts with symbol 0, whose count is 0), so s is the number of the group's
// entries at or below what is left of t.
template <ModelShape Shape = ANY_MODEL>
inline __attribute__((always_inline)) uint32_t symbolCovering(const FrequencyModel &model, uint32_t t) {
    uint32_t group = 0;
    if (Shape != MAIN_MODEL && model.symbolCount >= GROUP)
        group = countAtMost(model.groupBase, (groupCount(model) + LANES - 1) / LANES, t) - 1;
    const uint32_t within = Shape == MAIN_MODEL ? t : t - static_cast<uint32_t>(model.groupBase[group]);
    return group * GROUP + countAtMost(model.cum + group * GROUP, GROUP / LANES, within);
}


// The decoder's symbol without the division code / q: s is the first symbol
// with q * cum[s] > code (cum[s] > code / q is cum[s] > floor(code / q)),
// and n when none of 1 .. n - 1 is, for models of at most GROUP symbols,
// whose cumulative counts are the entries 0 .. 15 of cum[] alone. The
// products of the entries below n stay below range < 2^26; code is cut to
// 2^26 (it passes that only in damaged data), so that the comparisons can be
// signed. `quads` groups of four entries are compared (enough to cover
// entries 1 .. n - 1). The products are 32-bit vector multiplications (one
// instruction from SSE4.1 on, a few on the baseline).
#if defined(__SSE2__)
typedef uint32_t Quad __attribute__((vector_size(16)));

// Entries 4k .. 4k + 3 of cum as 32-bit lanes, times q, compared with the
// cut code: all ones where the product is greater.
template <uint32_t K>
inline __attribute__((always_inline)) __m128i productsAbove(const int16_t *cum, const Quad &factor, __m128i limit) {
    const __m128i entries = _mm_load_si128(reinterpret_cast<const __m128i *>(cum + (K / 2) * 8));
    const __m128i zero = _mm_setzero_si128();
    const __m128i widened = K % 2 == 0 ? _mm_unpacklo_epi16(entries, zero) : _mm_unpackhi_epi16(entries, zero);
    return _mm_cmpgt_epi32(reinterpret_cast<__m128i>(reinterpret_cast<Quad>(widened) * factor), limit);
}

template <uint32_t Quads>
inline __attribute__((always_inline)) uint32_t firstAbove(const int16_t *cum, uint32_t q, uint32_t code, uint32_t n) {
    static_assert(Quads >= 2 && Quads <= 4, "two to four quads of entries");
    const Quad factor = Quad{} + q;
    const __m128i limit = _mm_set1_epi32(static_cast<int32_t>(code < REGISTER ? code : REGISTER));
    const __m128i none = _mm_set1_epi32(-1);
    const __m128i low = _mm_packs_epi32(productsAbove<0>(cum, factor, limit), productsAbove<1>(cum, factor, limit));
    const __m128i high = Quads == 2 ? none
                         : _mm_packs_epi32(productsAbove<2>(cum, factor, limit),
                                           Quads == 3 ? none : productsAbove<3>(cum, factor, limit));
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
    return static_cast<uint32_t>(__builtin_ctz(mask | (1u << n)));
}
#endif

// The same comparisons can give the interval's ends without the symbol's
// number on the way (spanOf below). They take 32-bit vector minima and
// maxima besides the multiplications: single instructions from SSE4.1 on,
// several each on SSE2 alone, where firstAbove is the faster.
#if defined(__SSE2__)
typedef int32_t Ints __attribute__((vector_size(16)));

// What the decoder takes from the symbol that code falls in, for a model of
// at most GROUP symbols.
struct SymbolSpan {
    uint32_t symbol;
    uint32_t low;   // q * cumLow
    uint32_t high;  // q * (cumLow + freq[symbol]); range for symbol n, which takes the remainder
    // Bit k (k < 4, k < n) set when the symbol is above k: from the
    // comparisons directly, a few steps before the symbol's number.
    uint32_t aboveFirst;
    // Per entry (four to a quad): all ones where q times the entry is at or
    // below code, which is every entry before the symbol and every entry
    // taken as 0.
    Ints atMost0, atMost1, atMost2, atMost3;
};

inline __attribute__((always_inline)) Ints largerOf(Ints a, Ints b) { return a > b ? a : b; }

inline __attribute__((always_inline)) Quad smallerOf(Quad a, Quad b) { return a < b ? a : b; }

template <int Order, typename V> inline __attribute__((always_inline)) V swapLanes(V v) {
    return reinterpret_cast<V>(_mm_shuffle_epi32(reinterpret_cast<__m128i>(v), Order));
}

// The span from the cumulative counts of entries 0 .. n - 1 as 32-bit lanes
// (`Quads` of them, entries from n on 0) without the symbol's number on the
// way: each entry times q, compared with code (cut to 2^26); the products
// at or below code end at the symbol's low end,
// the first one above it is the high end. Both come from a maximum and a
// minimum across the lanes, so that the new range and code do not wait for
// the symbol's number and a load of its counts. The entries taken as 0 add
// nothing to the maximum, and the minimum falls back on range when no
// product passes code (symbol n, or damaged data).
template <uint32_t Quads>
inline __attribute__((always_inline)) SymbolSpan spanOf(Ints e0, Ints e1, Ints e2, Ints e3, uint32_t n, uint32_t q,
                                                        uint32_t range, uint32_t code) {
    static_assert(Quads >= 3 && Quads <= 4, "three or four quads of entries");
    const Ints factor = Ints{} + static_cast<int32_t>(q);
    const Ints bound = Ints{} + static_cast<int32_t>((code < REGISTER ? code : REGISTER) + 1);
    const Ints p0 = e0 * factor, p1 = e1 * factor, p2 = e2 * factor, p3 = Quads == 4 ? e3 * factor : Ints{};
    SymbolSpan span;
    span.atMost0 = p0 < bound;
    span.atMost1 = p1 < bound;
    span.atMost2 = p2 < bound;
    span.atMost3 = Quads == 4 ? p3 < bound : Ints{} - 1;
    Ints low = largerOf(largerOf(p0 & span.atMost0, p1 & span.atMost1),
                        Quads == 4 ? largerOf(p2 & span.atMost2, p3 & span.atMost3) : p2 & span.atMost2);
    // Unsigned: the entries at or below code become all ones.
    const Quad top = Quad{} + range;
    Quad high = smallerOf(
        smallerOf(reinterpret_cast<Quad>(p0 | span.atMost0), reinterpret_cast<Quad>(p1 | span.atMost1)),
        smallerOf(reinterpret_cast<Quad>(p2 | span.atMost2), Quads == 4 ? reinterpret_cast<Quad>(p3 | span.atMost3) : top));
    if (Quads == 4) high = smallerOf(high, top);
    low = largerOf(low, swapLanes<0x4E>(low));
    low = largerOf(low, swapLanes<0xB1>(low));
    high = smallerOf(high, swapLanes<0x4E>(high));
    high = smallerOf(high, swapLanes<0xB1>(high));
    span.low = static_cast<uint32_t>(_mm_cvtsi128_si32(reinterpret_cast<__m128i>(low)));
    span.high = static_cast<uint32_t>(_mm_cvtsi128_si32(reinterpret_cast<__m128i>(high)));
    // The symbol is the number of entries at or below code before the first
    // that is not (n when all are).
    const __m128i first = _mm_packs_epi32(reinterpret_cast<__m128i>(span.atMost0), reinterpret_cast<__m128i>(span.atMost1));
    const __m128i second = _mm_packs_epi32(reinterpret_cast<__m128i>(span.atMost2), reinterpret_cast<__m128i>(span.atMost3));
    span.aboveFirst = static_cast<uint32_t>(_mm_movemask_ps(reinterpret_cast<__m128>(span.atMost0)));
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(first, second)));
    span.symbol = static_cast<uint32_t>(__builtin_ctz(~mask | (1u << n)));
    return span;
}

// Entries 4k .. 4k + 3 of 16-bit lanes (k = 0 or 1) as 32-bit lanes.
template <uint32_t K> inline __attribute__((always_inline)) Ints widened(__m128i entries) {
    const __m128i zero = _mm_setzero_si128();
    return reinterpret_cast<Ints>(K == 0 ? _mm_unpacklo_epi16(entries, zero) : _mm_unpackhi_epi16(entries, zero));
}

// The span for a model of at most GROUP symbols, from its cum[] (entries 0
// .. 15; cum[16] of a 16-symbol model lies in the next group and is not
// needed: the last symbol is the one no entry passes).
template <uint32_t Quads>
inline __attribute__((always_inline)) SymbolSpan symbolSpan(const FrequencyModel &model, uint32_t q, uint32_t range,
                                                            uint32_t code) {
    const uint32_t n = model.symbolCount;
    const __m128i live0 = _mm_and_si128(_mm_load_si128(reinterpret_cast<const __m128i *>(model.belowN)),
                                        _mm_load_si128(reinterpret_cast<const __m128i *>(model.cum)));
    const __m128i live1 = _mm_and_si128(_mm_load_si128(reinterpret_cast<const __m128i *>(model.belowN + 8)),
                                        _mm_load_si128(reinterpret_cast<const __m128i *>(model.cum + 8)));
    return spanOf<Quads>(widened<0>(live0), widened<1>(live0), widened<0>(live1), widened<1>(live1), n, q, range,
                         code);
}

// A model of at most 12 symbols that codes every few symbols (the symbol
// coder's main model), held in registers by the decoder for a block: its
// running sums cum[0 .. 11] as 32-bit lanes, those from n on 0, and its
// total. The count update adds the increment to the lanes above code, which
// are those from the symbol on, so that it does not wait for the symbol's
// number. freq[] is not kept meanwhile: store() and a halving rebuild it
// from the lanes.
struct ModelLanes {
    FrequencyModel &model;
    Ints cum0, cum1, cum2;
    Ints increment;
    uint32_t total;

    // With `held` false the model stays where it is (and store() must not
    // be called).
    ModelLanes(FrequencyModel &m, bool held) : model(m), increment(Ints{} + static_cast<int32_t>(m.increment)) {
        if (held) load();
    }

    void load() {
        const __m128i live0 = _mm_and_si128(_mm_load_si128(reinterpret_cast<const __m128i *>(model.belowN)),
                                            _mm_load_si128(reinterpret_cast<const __m128i *>(model.cum)));
        const __m128i live1 = _mm_and_si128(_mm_load_si128(reinterpret_cast<const __m128i *>(model.belowN + 8)),
                                            _mm_load_si128(reinterpret_cast<const __m128i *>(model.cum + 8)));
        cum0 = widened<0>(live0);
        cum1 = widened<1>(live0);
        cum2 = widened<0>(live1);
        total = model.total;
    }

    // Writes the counts back into the model (and its running sums afresh).
    void store() {
        storeCounts();
        rebuildCumulative(model);
    }

    // freq[] and total alone.
    void storeCounts() {
        alignas(16) int32_t cum[12];
        std::memcpy(cum, &cum0, sizeof(cum0));
        std::memcpy(cum + 4, &cum1, sizeof(cum1));
        std::memcpy(cum + 8, &cum2, sizeof(cum2));
        const uint32_t n = model.symbolCount;
        for (uint32_t k = 1; k < n; ++k) model.freq[k] = static_cast<uint32_t>(cum[k] - cum[k - 1]);
        model.freq[n] = total - static_cast<uint32_t>(cum[n - 1]);
        model.total = total;
    }

    inline __attribute__((always_inline)) void raise(const SymbolSpan &span) {
        cum0 += ~span.atMost0 & increment;
        cum1 += ~span.atMost1 & increment;
        cum2 += ~span.atMost2 & increment;
    }

    void halve() {
        storeCounts();
        halveCounts(model);
        load();
    }
};
#else
// Without the vector instructions the model stays where it is.
struct ModelLanes {
    FrequencyModel &model;
    ModelLanes(FrequencyModel &m, bool) : model(m) {}
    void store() {}
};
#endif

// The symbol the decoder reads from code with q = range / total.
template <ModelShape Shape = ANY_MODEL>
inline __attribute__((always_inline)) uint32_t decodedSymbol(const FrequencyModel &model, uint32_t q, uint32_t code) {
#if defined(__SSE2__)
    if (Shape == MAIN_MODEL) return firstAbove<3>(model.cum, q, code, model.symbolCount);
    if (Shape == BUCKET_MODEL && model.symbolCount <= GROUP)
        return firstAbove<4>(model.cum, q, code, model.symbolCount);
#endif
    // The symbol whose scaled range holds code: it covers t = code / q (the
    // last symbol when t reaches the total).
    uint32_t t = code / q;
    if (t > model.total - 1) t = model.total - 1;
    return symbolCovering<Shape>(model, t);
}

// Puts the stream bits of the `take` stored bytes at `bytes` (1 to 8; eight
// bytes must be readable there) into a bit reservoir below the `count` bits
// it holds, where 8 * take + count <= 64. Stored bytes are the complements
// of the stream's; the first byte's bits go on top.
inline void takeStoredBytes(const uint8_t *bytes, uint32_t take, uint64_t &window, uint32_t &count) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof(word));
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    const uint32_t dropped = 64 - 8 * take;  // bits of the bytes not taken
    window |= (~word >> dropped << dropped) >> count;
    count += 8 * take;
}

template <ModelShape Shape = ANY_MODEL> inline uint32_t divideByTotal(uint32_t range, uint32_t total) {
    if (Shape != ANY_MODEL || total <= RECIPROCAL_LIMIT)
        return static_cast<uint32_t>((range * RECIPROCALS[total]) >> 38);
    return range / total;
}

// Renormalisation: the number of doublings that bring range (at least 1, at
// most HALF = 2^25) above QUARTER, 0 if it is above already. With x =
// range - 1, range << s > 2^24 exactly when x has a bit at 24 - s or higher
// (s = 25 for x = 0); the leading zeros of 2x + 1 in 64 bits count that
// without a special case for 0.
inline uint32_t doublings(uint32_t range) {
    const uint64_t x = range - 1;
    return static_cast<uint32_t>(__builtin_clzll((x << 1) | 1)) - 38;
}

// The same for the models whose totals lie within the reciprocal table,
// where range is at least 2^24 / 4096 = 4096 and x is never 0: the leading
// zeros of x in 32 bits, less the 7 above bit 24.
template <ModelShape Shape> inline uint32_t doublings(uint32_t range) {
    if (Shape == ANY_MODEL) return doublings(range);
    return static_cast<uint32_t>(__builtin_clz(range - 1)) - 7;
}

} // namespace coder

// The stream bits on their way to the encoder's buffer, in locals: they
// collect in a 64-bit word and leave it a few bytes at a time. store() hands
// back the encoder's own fields, where at most one byte's bits wait (a byte
// is stored once the bit after it arrives).
struct StreamBits {
    RangeEncoder &codec;
    uint64_t bits;    // stream bits not yet stored, newest in bit 0
    uint32_t filled;  // number of them

    explicit StreamBits(RangeEncoder &c) : codec(c), bits(0), filled(8 - c.bitsLeft) {
        bits = c.bitBuffer & ((1u << filled) - 1);
    }

    void store() {
        storeBytes();
        codec.bitBuffer = static_cast<uint32_t>(bits);
        codec.bitsLeft = 8 - filled;
    }

    // Stores the complete bytes that a later bit follows, leaving 0 to 8 bits.
    void storeBytes() {
        while (filled > 8) {
            filled -= 8;
            codec.buffer[codec.used++] = static_cast<uint8_t>(~(bits >> filled));
            if (codec.used == IO_BUFFER_SIZE) codec.writeChunk();
        }
    }

    // Appends the low `count` bits of value (count <= MAX_APPEND, value
    // below 2^count); at most 32 bits wait before it, so 63 after it.
    static const uint32_t MAX_APPEND = 31;
    inline __attribute__((always_inline)) void append(uint32_t value, uint32_t count) {
        bits = (bits << count) | value;
        filled += count;
        if (filled > 32) storeBytes();
    }

    // Appends `count` copies of `bit` (any count).
    void appendRun(uint32_t bit, uint32_t count);
};

// The registers of an encoder in locals, for the symbols of a block (models
// whose totals lie within the reciprocal table). The interval's low end
// takes its additions in a 64-bit word with the stream bits above it, so
// that a carry runs into those bits by itself: a symbol is an addition, a
// multiplication and a shift. The stream bits pass on 24 at a time; of
// those passed on, a carry can still reach the last 0 bit and the 1 bits
// after it (turning them into a 1 and 0s), and these wait until a later 0
// bit or a carry settles them. The interval never widens, so all the bits
// passed on take one carry at most. The encoder's own fields hold the same
// stream in the held-back bit form (encodeSymbol); the constructor and
// store() convert.
struct EncoderRegisters {
    StreamBits out;
    // Bits 0-25: the interval's low end; above them the `fresh` stream bits
    // not yet passed on; above those the carry into the bits passed on.
    uint64_t low;
    uint32_t range;
    uint32_t fresh;
    uint32_t held;  // 1 when a 0 bit waits for a possible carry, with
    uint32_t ones;  // this many 1 bits after it

    // Fresh bits pass on once there are this many: with at most 13
    // doublings a symbol (range above 2^24 / 4096 before them), low then
    // holds at most 26 + 23 + 13 bits and the carry.
    static const uint32_t PASS_BITS = 24;

    explicit EncoderRegisters(RangeEncoder &c);
    // Settles the bits a carry can no longer reach and hands the encoder
    // back its fields.
    void store();

    // Passes the top m (at most PASS_BITS) fresh bits on, with the carry.
    inline __attribute__((always_inline)) void passOn(uint32_t m) {
        const uint32_t below = coder::CODE_BITS + fresh - m;
        const uint64_t top = low >> below;  // the carry, then the m bits
        low &= (uint64_t(1) << below) - 1;
        fresh -= m;
        const uint32_t carry = static_cast<uint32_t>(top >> m);
        const uint32_t chunk = static_cast<uint32_t>(top) & ((1u << m) - 1);
        // The 1 bits at the chunk's end (m when it is all 1 bits).
        const uint32_t trailing = static_cast<uint32_t>(__builtin_ctz(~chunk | (1u << m)));
        const uint32_t settled = ones + m - trailing;
        if (trailing < m && held && settled <= StreamBits::MAX_APPEND) {
            // The waiting 0 and 1 bits with the carry added, then the chunk
            // up to its last 0 bit, which waits now with the 1 bits after it.
            const uint32_t waiting = (1u << ones) - 1 + carry;
            out.append((waiting << (m - trailing - 1)) | (chunk >> (trailing + 1)), settled);
            ones = trailing;
        } else {
            passOnSlowly(carry, chunk, m, trailing);
        }
    }
    void passOnSlowly(uint32_t carry, uint32_t chunk, uint32_t m, uint32_t trailing);

    template <coder::ModelShape Shape>
    inline __attribute__((always_inline)) void encode(FrequencyModel &model, uint32_t symbol) {
        using namespace coder;
        static_assert(Shape != ANY_MODEL, "totals beyond the reciprocal table could take more doublings");
        const uint32_t cumLow = cumulativeBelow<Shape>(model, symbol);
        const uint32_t count = model.freq[symbol];
        const uint32_t q = divideByTotal<Shape>(range, model.total);
        low += q * cumLow;
        if (cumLow + count < model.total)
            range = q * count;
        else
            range -= q * cumLow;
        const uint32_t shift = doublings<Shape>(range);
        low <<= shift;
        range <<= shift;
        fresh += shift;
        if (fresh >= PASS_BITS) passOn(PASS_BITS);
        updateModel<Shape>(model, symbol);
    }
};

// The registers of a decoder in locals.
struct DecoderRegisters {
    RangeDecoder &codec;
    uint32_t range, code;
    uint64_t window;  // the reader's bits, the next at bit 63
    uint32_t count;
    uint32_t lastAbove;  // of the last symbol of the model in registers: bit k set when it is above k (k < 4)

    explicit DecoderRegisters(RangeDecoder &c)
        : codec(c), range(c.range), code(c.code), window(c.readerBits), count(c.readerCount), lastAbove(0) {}

    // Whether the last symbol of the main model is at most k (k < 4): with
    // the spans, from the model in registers, which tells the symbol's kind
    // to the branches that follow it sooner than the symbol's number, so
    // that a wrong guess there costs less.
    template <bool Spans> inline __attribute__((always_inline)) bool lastAtMost(uint32_t symbol, uint32_t k) const {
#if defined(__SSE2__)
        if (Spans) return ((lastAbove >> k) & 1) == 0;
#endif
        return symbol <= k;
    }

    void store() {
        codec.range = range;
        codec.code = code;
        codec.readerBits = window;
        codec.readerCount = count;
    }

    void load() {
        range = codec.range;
        code = codec.code;
        window = codec.readerBits;
        count = codec.readerCount;
    }

    // Runs a call that the loops rarely make with the registers in the
    // decoder's fields and read back after it, so that they need not be
    // kept across it: in the loops they keep to registers of their own.
    template <typename Call> inline __attribute__((always_inline)) void aside(Call call) {
        store();
        call();
        load();
    }

    // The next `n` stream bits (n <= 25), first bit highest.
    inline __attribute__((always_inline)) uint32_t takeBits(uint32_t n) {
        if (n > count) {
            if (codec.avail >= 8 && codec.remaining >= 8) {
                // As refillReader: as many whole bytes as fit, here from
                // eight bytes at hand in the read buffer.
                const uint32_t take = (64 - count) / 8;  // 5 to 8, as count < 25
                coder::takeStoredBytes(codec.buffer + (codec.filled - codec.avail), take, window, count);
                codec.avail -= take;
                codec.remaining -= static_cast<int32_t>(take);
            } else {
                aside([&] { codec.refillReader(n); });
            }
        }
        const uint32_t bits = static_cast<uint32_t>((window >> 1) >> (63 - n));  // 0 for n = 0
        window <<= n;
        count -= n;
        return bits;
    }

#if defined(__SSE2__)
    // A symbol of a model of at most 16 symbols. The symbol coder's totals
    // lie within the reciprocal table.
    inline __attribute__((always_inline)) uint32_t decodeSmall(FrequencyModel &model) {
        using namespace coder;
        const uint32_t q = static_cast<uint32_t>((range * model.reciprocal) >> 38);
        const uint32_t symbol = narrow(symbolSpan<4>(model, q, range, code));
        adapt<BUCKET_MODEL>(model, symbol);
        return symbol;
    }

    // A symbol of the model in registers.
    inline __attribute__((always_inline)) uint32_t decode(coder::ModelLanes &lanes) {
        using namespace coder;
        const uint32_t q = divideByTotal<MAIN_MODEL>(range, lanes.total);
        const SymbolSpan span =
            spanOf<3>(lanes.cum0, lanes.cum1, lanes.cum2, Ints{}, lanes.model.symbolCount, q, range, code);
        const uint32_t symbol = narrow(span);
        lastAbove = span.aboveFirst;
        lanes.total += lanes.model.increment;
        lanes.raise(span);
        if (lanes.total > lanes.model.limit) aside([&] { lanes.halve(); });
        return symbol;
    }


    // Narrows the interval to the span and renormalises.
    inline __attribute__((always_inline)) uint32_t narrow(const coder::SymbolSpan &span) {
        range = span.high - span.low;
        const uint32_t shift = coder::doublings<coder::BUCKET_MODEL>(range);
        range <<= shift;
        code = (code - span.low) << shift;
        code += takeBits(shift);  // after the bits are taken: it need not be kept across a refill
        return span.symbol;
    }
#endif

    // A symbol of the symbol coder's main model: from the model in
    // registers with the spans, else from the model.
    template <bool Spans> inline __attribute__((always_inline)) uint32_t decodeMain(coder::ModelLanes &lanes) {
#if defined(__SSE2__)
        if (Spans) return decode(lanes);
#endif
        return decode<coder::MAIN_MODEL>(lanes.model);
    }

    // A symbol of a bucket model of the symbol coder; `small` tells that the
    // model has at most 16 symbols (from the bucket's number, known before
    // the model is read).
    template <bool Spans>
    inline __attribute__((always_inline)) uint32_t decodeBucket(FrequencyModel &model, bool small) {
#if defined(__SSE2__)
        if (Spans && small) return decodeSmall(model);
#endif
        (void)small;
        return decode<coder::BUCKET_MODEL>(model);
    }

    template <coder::ModelShape Shape = coder::ANY_MODEL>
    inline __attribute__((always_inline)) uint32_t decode(FrequencyModel &model) {
        using namespace coder;
        const uint32_t total = model.total;
        // The symbol coder's models keep their reciprocal at hand.
        const uint32_t q = Shape == ANY_MODEL ? divideByTotal(range, total)
                                              : static_cast<uint32_t>((range * model.reciprocal) >> 38);
        const uint32_t symbol = decodedSymbol<Shape>(model, q, code);
        const uint32_t cumLow = cumulativeBelow<Shape>(model, symbol);
        const uint32_t count = model.freq[symbol];
        code -= q * cumLow;
        if (cumLow + count < total)
            range = q * count;
        else
            range -= q * cumLow;
        // One stream bit shifts in per doubling.
        const uint32_t shift = doublings<Shape>(range);
        range <<= shift;
        code <<= shift;
        code += takeBits(shift);
        adapt<Shape>(model, symbol);
        return symbol;
    }

    // The model update, with the halving's call set aside and the model's
    // reciprocal kept.
    template <coder::ModelShape Shape> inline __attribute__((always_inline)) void adapt(FrequencyModel &model, uint32_t symbol) {
        const uint32_t increment = model.increment;
        model.total += increment;
        model.freq[symbol] += increment;
        if (model.total > model.limit) {
            aside([&] { coder::halveCounts(model); });
        } else {
            coder::raiseFrom<Shape>(model, symbol);
            model.reciprocal = coder::reciprocalOf<Shape>(model.total);
        }
    }
};

#endif
