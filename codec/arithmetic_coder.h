// The arithmetic coder's per-symbol steps, inline, for the loops that code a
// whole block: the coder registers live in local variables (EncoderRegisters,
// DecoderRegisters) for the length of a block and go back into the codec
// object at its end, instead of passing through memory at every symbol.
// VekCodec::encodeSymbol and decodeSymbol run the same steps one symbol at a
// time.
#ifndef VEK_CODEC_ARITHMETIC_CODER_H
#define VEK_CODEC_ARITHMETIC_CODER_H

#include <cstdint>
#include <cstring>

#include "vek_codec.h"

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

inline Lanes broadcast(uint32_t value) {
    return Lanes{} + static_cast<int16_t>(value);
}

// The sum of the eight lanes, each between 0 and 255.
inline uint32_t laneSum(Lanes v) {
    uint64_t halves[2];
    std::memcpy(halves, &v, sizeof(halves));
    uint64_t s = halves[0] + halves[1];  // four lanes of at most 510
    s += s >> 32;
    s += s >> 16;
    return static_cast<uint32_t>(s & 0xFFFF);
}

// Vectors of cum[] that hold entries 0 .. n.
inline uint32_t cumulativeVectors(const FrequencyModel &model) {
    return model.symbolCount / LANES + 1;
}

// Entries of cum[] past n: above every total, and far enough below the top
// of int16_t that the increments added between two halvings cannot reach it.
const int16_t PAST_LAST = 0x4000;

// FROM_LANE[j]: all bits set in lanes j to 7.
extern const Lanes FROM_LANE[LANES];

// Recomputes cum[] from freq[]: after initModel and after a halving.
void rebuildCumulative(FrequencyModel &model);

// The count update after coding `symbol` (both directions), with the halving
// once total passes the limit.
inline __attribute__((always_inline)) void updateModel(FrequencyModel &model, uint32_t symbol) {
    const uint32_t increment = model.increment;
    model.total += increment;
    model.freq[symbol] += increment;
    if (model.total > model.limit) {
        model.total = 0;
        for (uint32_t k = model.symbolCount; k >= 1; --k) {
            model.freq[k] = (model.freq[k] + 1) / 2;
            model.total += model.freq[k];
        }
        rebuildCumulative(model);
        return;
    }
    // cum[k] += increment for k >= symbol: the vector holding the symbol
    // from its lane on, the later ones whole (their entries past n as well).
    const Lanes add = broadcast(increment);
    const uint32_t vectors = cumulativeVectors(model);
    uint32_t v = symbol / LANES;
    int16_t *p = model.cum + v * LANES;
    storeLanes(p, loadLanes(p) + (add & FROM_LANE[symbol % LANES]));
    for (++v, p += LANES; v < vectors; ++v, p += LANES) storeLanes(p, loadLanes(p) + add);
}

// The symbol s whose counts cover t (0 <= t < total): cum[s-1] <= t < cum[s].
// cum[] rises strictly from cum[0] = 0, and the entries past n lie above
// every total, so s is the number of entries at or below t.
inline __attribute__((always_inline)) uint32_t symbolCovering(const FrequencyModel &model, uint32_t t) {
    const uint32_t vectors = cumulativeVectors(model);
    const Lanes limit = broadcast(t);
    Lanes below{};
    for (uint32_t v = 0; v < vectors; ++v) below -= loadLanes(model.cum + v * LANES) <= limit;
    return laneSum(below);
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

} // namespace coder

// The encoder registers of a codec in locals. The stream bits collect in a
// 64-bit word and leave it a few bytes at a time; store() hands back the
// codec's own state, where at most one byte's bits wait (a byte is stored
// once the bit after it arrives).
struct EncoderRegisters {
    VekCodec &codec;
    uint32_t low, range, pending;
    uint64_t bits;    // stream bits not yet stored, newest in bit 0
    uint32_t filled;  // number of them

    explicit EncoderRegisters(VekCodec &c)
        : codec(c), low(c.low), range(c.range), pending(c.pending), bits(0), filled(8 - c.bitsLeft) {
        bits = c.bitBuffer & ((1u << filled) - 1);
    }

    void store() {
        storeBytes();
        codec.low = low;
        codec.range = range;
        codec.pending = pending;
        codec.bitBuffer = static_cast<uint32_t>(bits);
        codec.bitsLeft = 8 - filled;
    }

    // Stores the complete bytes that a later bit follows, leaving 0 to 8 bits.
    void storeBytes() {
        while (filled > 8) {
            filled -= 8;
            codec.outBuffer[codec.outPos++] = static_cast<uint8_t>(~(bits >> filled));
            if (codec.outPos == IO_BUFFER_SIZE) codec.writeStreamChunk();
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

    // Puts out the `count` top bits of low, with the held-back bits after the
    // first of them.
    void emitWithPending(uint32_t top, uint32_t count);

    inline __attribute__((always_inline)) void encode(FrequencyModel &model, uint32_t symbol) {
        using namespace coder;
        const uint32_t cumLow = static_cast<uint32_t>(model.cum[symbol - 1]);
        const uint32_t count = model.freq[symbol];
        const uint32_t q = range / model.total;
        low += q * cumLow;
        if (cumLow + count < model.total)
            range = q * count;
        else
            range -= q * cumLow;

        // Double the interval until range passes QUARTER, all doublings at
        // once and without branches. One doubling at a time would emit a bit
        // (and the bits held back until then) while the interval lies in one
        // half, and hold one back while it straddles the middle. Once it
        // straddles, every further doubling straddles too (low lands in the
        // lower half, the top in the upper half), so the steps are: first
        // the emits, as many as the leading bits low and top share (at most
        // the doublings), then the straddles.
        const uint32_t shift = doublings(range);
        const uint32_t top = low + range - 1;  // below 2^26, above low
        const uint32_t differ = (low ^ top) | 1;
        const uint32_t common = static_cast<uint32_t>(__builtin_clz(differ)) - (32 - CODE_BITS);
        const uint32_t emits = common < shift ? common : shift;
        if (emits != 0) {
            // The emitted bits, with the held-back bits (the complement of
            // the first) after the first one: the first bit b followed by
            // `pending` copies of 1 - b is (2^pending - 1 + b).
            const uint32_t emitted = low >> (CODE_BITS - emits);
            const uint32_t first = emitted >> (emits - 1);
            const uint32_t rest = emitted ^ (first << (emits - 1));
            if (pending + emits <= MAX_APPEND) {
                append(((((1u << pending) - 1) + first) << (emits - 1)) | rest, pending + emits);
                pending = 0;
            } else {
                emitWithPending(emitted, emits);
            }
        }
        low = (low << emits) & (REGISTER - 1);
        // Each straddle takes QUARTER off a low in [QUARTER, HALF) and
        // doubles it.
        const uint32_t straddles = shift - emits;
        pending += straddles;
        low = (low << straddles) & (straddles != 0 ? HALF - 1 : REGISTER - 1);
        range <<= shift;
        updateModel(model, symbol);
    }
};

// The decoder registers of a codec in locals.
struct DecoderRegisters {
    VekCodec &codec;
    uint32_t range, code;
    uint64_t window;  // the reader's bits, the next at bit 63
    uint32_t count;

    explicit DecoderRegisters(VekCodec &c)
        : codec(c), range(c.range), code(c.code), window(c.readerBits), count(c.readerCount) {}

    void store() {
        codec.range = range;
        codec.code = code;
        codec.readerBits = window;
        codec.readerCount = count;
    }

    // The next `n` stream bits (n <= 25), first bit highest.
    inline __attribute__((always_inline)) uint32_t takeBits(uint32_t n) {
        if (n > count) {
            codec.readerBits = window;
            codec.readerCount = count;
            codec.refillReader(n);
            window = codec.readerBits;
            count = codec.readerCount;
        }
        const uint32_t bits = static_cast<uint32_t>((window >> 1) >> (63 - n));  // 0 for n = 0
        window <<= n;
        count -= n;
        return bits;
    }

    inline __attribute__((always_inline)) uint32_t decode(FrequencyModel &model) {
        using namespace coder;
        const uint32_t total = model.total;
        const uint32_t q = range / total;
        // The symbol whose scaled range holds code: cumHigh * q > code is
        // cumHigh > code / q, so the symbol covers t = code / q (the last
        // symbol when t reaches the total).
        uint32_t t = code / q;
        if (t > total - 1) t = total - 1;
        const uint32_t symbol = symbolCovering(model, t);
        const uint32_t cumLow = static_cast<uint32_t>(model.cum[symbol - 1]);
        const uint32_t count = model.freq[symbol];
        code -= q * cumLow;
        if (cumLow + count < total)
            range = q * count;
        else
            range -= q * cumLow;
        // One stream bit shifts in per doubling.
        const uint32_t shift = doublings(range);
        range <<= shift;
        code = (code << shift) + takeBits(shift);
        updateModel(model, symbol);
        return symbol;
    }
};

#endif
