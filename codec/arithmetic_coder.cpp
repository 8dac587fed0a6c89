// Adaptive frequency models, the 26-bit binary arithmetic coder and its bit
// input and output.
//
// All arithmetic is unsigned 32-bit: range stays within (2^24, 2^25] after
// renormalisation and no model total exceeds 3200, so q * cumLow < 2^26.
// Stream bytes are stored as the one's complement of their bits.
#include <cstring>

#include "vek_codec.h"
#include "work_buffers.h"

namespace {

const uint32_t HALF = 0x2000000;     // half of the 26-bit register
const uint32_t QUARTER = 0x1000000;  // renormalise while range <= this
const uint32_t CODE_BITS = 26;
const uint32_t REGISTER = 0x4000000;  // 2^26

inline __attribute__((always_inline)) void updateModel(FrequencyModel &model, uint32_t symbol) {
    model.total += model.increment;
    model.freq[symbol] += model.increment;
    if (model.total > model.limit) {
        model.total = 0;
        for (uint32_t k = model.symbolCount; k >= 1; --k) {
            model.freq[k] = (model.freq[k] + 1) / 2;
            model.total += model.freq[k];
        }
    }
}

// The encoder's bit output held in locals while one symbol is renormalised.
struct BitSink {
    uint32_t buffer;
    uint32_t left;  // free bits in buffer

    // `count` copies of `bit` (0 or 1), a whole byte's worth at a time.
    inline void put(VekCodec &coder, uint32_t bit, uint32_t count) {
        while (count > 0) {
            if (left == 0) {
                coder.bitBuffer = buffer;
                coder.bitsLeft = 0;
                coder.putBit(bit);  // writes the full byte and starts the next
                buffer = coder.bitBuffer;
                left = coder.bitsLeft;
                --count;
                continue;
            }
            const uint32_t take = count < left ? count : left;
            buffer = (buffer << take) | (bit ? (1u << take) - 1 : 0);
            left -= take;
            count -= take;
        }
    }

    // The low `count` bits of `value` (count < 32), highest first.
    inline void putBits(VekCodec &coder, uint32_t value, uint32_t count) {
        while (count > 0) {
            if (left == 0) {
                coder.bitBuffer = buffer;
                coder.bitsLeft = 0;
                coder.putBit((value >> (count - 1)) & 1);  // writes the full byte
                buffer = coder.bitBuffer;
                left = coder.bitsLeft;
                --count;
                continue;
            }
            const uint32_t take = count < left ? count : left;
            buffer = (buffer << take) | ((value >> (count - take)) & ((1u << take) - 1));
            left -= take;
            count -= take;
        }
    }
};

// The next `count` stream bits, first bit highest: getBit `count` times,
// taking the bits of the current byte together.
inline uint32_t takeBits(VekCodec &coder, uint32_t count) {
    uint32_t value = 0;
    while (count > 0) {
        if (coder.bitsLeft == 0) {
            value = (value << 1) + coder.getBit();
            --count;
            continue;
        }
        const uint32_t take = count < coder.bitsLeft ? count : coder.bitsLeft;
        value = (value << take) | ((coder.bitBuffer >> (coder.bitsLeft - take)) & ((1u << take) - 1));
        coder.bitsLeft -= take;
        count -= take;
    }
    return value;
}

} // namespace

void VekCodec::initModel(FrequencyModel &model, uint32_t n, uint32_t increment, uint32_t limit) {
    const uint32_t start = increment == 0 ? 1 : increment;
    for (uint32_t k = 1; k <= n; ++k) model.freq[k] = start;
    model.total = n * start;
    model.symbolCount = n;
    model.increment = increment;
    model.limit = limit;
    model.freq[0] = 0;
    model.freq[n + 1] = 0;
}

void VekCodec::encodeSymbol(FrequencyModel &model, uint32_t symbol) {
    // The counts below the symbol, summed from the nearer end: total is the
    // sum of all counts, so it is total less the counts from the symbol up.
    const uint32_t *freq = model.freq;
    const uint32_t n = model.symbolCount;
    uint32_t cumLow = 0;
    if (2 * symbol <= n + 1) {
        uint32_t k = 1;
        for (; k + 4 <= symbol; k += 4) cumLow += freq[k] + freq[k + 1] + freq[k + 2] + freq[k + 3];
        for (; k < symbol; ++k) cumLow += freq[k];
    } else {
        uint32_t above = 0;
        uint32_t k = n;
        for (; k >= symbol + 3; k -= 4) above += freq[k] + freq[k - 1] + freq[k - 2] + freq[k - 3];
        for (; k >= symbol; --k) above += freq[k];
        cumLow = model.total - above;
    }
    const uint32_t q = range / model.total;
    low += q * cumLow;
    if (cumLow + model.freq[symbol] < model.total)
        range = q * model.freq[symbol];
    else
        range -= q * cumLow;

    if (range <= QUARTER) {
        // Double the interval until range passes QUARTER, all doublings at
        // once. One doubling at a time would emit a bit (and the bits held
        // back until then) while the interval lies in one half, and hold one
        // back while it straddles the middle. Once it straddles, every
        // further doubling straddles too (low lands in the lower half, the
        // top in the upper half), so the steps are: first the emits, as many
        // as the leading bits low and top share (at most the doublings),
        // then the straddles.
        uint32_t shift = static_cast<uint32_t>(__builtin_clz(range)) - 7;
        if ((range << shift) <= QUARTER) ++shift;
        const uint32_t top = low + range - 1;
        const uint32_t differ = (low ^ top) & (REGISTER - 1);
        uint32_t emits = differ == 0 ? CODE_BITS : static_cast<uint32_t>(__builtin_clz(differ)) - (32 - CODE_BITS);
        if (emits > shift) emits = shift;
        uint32_t l = low;
        if (emits > 0 && pending == 0 && emits <= bitsLeft) {
            // The usual case: a few bits, nothing held back, room in the byte.
            const uint32_t bits = l >> (CODE_BITS - emits);
            bitBuffer = (bitBuffer << emits) | bits;
            bitsLeft -= emits;
            l = (l << emits) & (REGISTER - 1);
        } else if (emits > 0) {
            BitSink out{bitBuffer, bitsLeft};
            const uint32_t bits = l >> (CODE_BITS - emits);
            const uint32_t first = bits >> (emits - 1);
            out.put(*this, first, 1);
            if (pending > 0) out.put(*this, first ^ 1, pending);
            pending = 0;
            out.putBits(*this, bits, emits - 1);
            bitBuffer = out.buffer;
            bitsLeft = out.left;
            l = (l << emits) & (REGISTER - 1);
        }
        const uint32_t straddles = shift - emits;
        if (straddles > 0) {
            // Each straddle takes QUARTER off a low in [QUARTER, HALF) and doubles it.
            pending += straddles;
            l = (l << straddles) & (HALF - 1);
        }
        low = l;
        range <<= shift;
    }
    updateModel(model, symbol);
}

uint32_t VekCodec::decodeSymbol(FrequencyModel &model) {
    const uint32_t q = range / model.total;
    // The symbol whose scaled range holds code: the first whose cumulative
    // count times q passes code, the last symbol if none does (code / q at
    // or beyond the total). Every product stays below range < 2^26.
    const uint32_t *freq = model.freq;
    const uint32_t n = model.symbolCount;
    uint32_t symbol = 1;
    uint32_t cumLow = 0;
    for (;;) {
        if (symbol + 4 <= n) {
            const uint32_t four = freq[symbol] + freq[symbol + 1] + freq[symbol + 2] + freq[symbol + 3];
            if ((cumLow + four) * q <= code) {
                cumLow += four;
                symbol += 4;
                continue;
            }
        }
        if (symbol == n || (cumLow + freq[symbol]) * q > code) break;
        cumLow += freq[symbol];
        ++symbol;
    }
    const uint32_t cumHigh = cumLow + model.freq[symbol];
    code -= q * cumLow;
    if (cumHigh < model.total)
        range = q * model.freq[symbol];
    else
        range -= q * cumLow;
    if (range <= QUARTER) {
        // Double range until it passes QUARTER, shifting in one stream bit
        // per doubling: s doublings bring its top bit to bit 24, one more
        // if it is then exactly QUARTER.
        uint32_t shift = static_cast<uint32_t>(__builtin_clz(range)) - 7;
        if ((range << shift) <= QUARTER) ++shift;
        range <<= shift;
        code = (code << shift) + takeBits(*this, shift);
    }
    updateModel(model, symbol);
    return symbol;
}

void VekCodec::encodeValue32(uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) encodeSymbol(byteModel, ((value >> shift) & 0xFF) + 1);
}

uint32_t VekCodec::decodeValue32() {
    uint32_t value = 0;
    for (int k = 0; k < 4; ++k) value = (value << 8) + (decodeSymbol(byteModel) - 1);
    return value;
}

void VekCodec::startEncoder(platform::FileHandle output, const uint8_t headerBytes[VEK_HEADER_SIZE]) {
    streamFile = output;
    bitsLeft = 8;
    outPos = 0;
    std::memcpy(outBuffer, headerBytes, VEK_HEADER_SIZE);
    outPos = VEK_HEADER_SIZE;
    streamBytesWritten = 0;
    initModel(byteModel, 256, 0, 256);
    low = 0;
    range = HALF;
    pending = 0;
}

void VekCodec::putBit(uint32_t bit) {
    if (bitsLeft != 0) {
        bitBuffer = (bitBuffer << 1) + (bit & 1);
        --bitsLeft;
        return;
    }
    outBuffer[outPos++] = static_cast<uint8_t>(~bitBuffer);
    if (outPos == IO_BUFFER_SIZE) writeStreamChunk();
    bitBuffer = bit & 1;
    bitsLeft = 7;
}

void VekCodec::finishEncoder() {
    for (int p = CODE_BITS - 1; p >= 0; --p) {
        const uint32_t bit = (low >> p) & 1;
        putBit(bit);
        for (; pending > 0; --pending) putBit(bit ^ 1);
    }
    if (bitsLeft > 0) {
        bitBuffer <<= bitsLeft;
        bitsLeft = 0;
    }
    outBuffer[outPos++] = static_cast<uint8_t>(~bitBuffer);
    writeStreamChunk();
}

void VekCodec::writeStreamChunk() {
    // A decoder counts the coded bytes of a file in a signed 32-bit number:
    // a longer file could be written but never read back, so the encode
    // fails instead of reporting success.
    streamBytesWritten += outPos;
    if (streamBytesWritten > static_cast<uint64_t>(INT32_MAX) + VEK_HEADER_SIZE) failureExit();
    if (!platform::writeFile(streamFile, outBuffer, outPos)) failureExit();
    outPos = 0;
}

void VekCodec::startDecoderReader(platform::FileHandle input) {
    streamFile = input;
    bitsLeft = 0;
    inAvail = 0;
    inFilled = IO_BUFFER_SIZE;
    outPos = 0;
    const int64_t size = platform::fileSize(input);
    const int64_t coded = size - static_cast<int64_t>(VEK_HEADER_SIZE);
    remaining = coded > INT32_MAX ? INT32_MAX : static_cast<int32_t>(coded < -1 ? -1 : coded);
}

void VekCodec::startDecoderCoder() {
    initModel(byteModel, 256, 0, 256);
    code = 0;
    range = HALF;
    for (uint32_t k = 0; k < CODE_BITS; ++k) code = (code << 1) + getBit();
}

uint32_t VekCodec::getBit() {
    if (bitsLeft != 0) {
        --bitsLeft;
        return (bitBuffer >> bitsLeft) & 1;
    }
    if (remaining <= 0) failureExit();  // coded data exhausted
    bitBuffer = static_cast<uint8_t>(~readByte());
    bitsLeft = 7;
    return (bitBuffer >> 7) & 1;
}

uint8_t VekCodec::readByte() {
    if (inAvail == 0) {
        inAvail = IO_BUFFER_SIZE;
        if (remaining < static_cast<int32_t>(IO_BUFFER_SIZE)) {
            inAvail = static_cast<uint32_t>(remaining);
            inFilled = static_cast<uint32_t>(remaining);
        }
        size_t got = 0;
        if (!platform::readFile(streamFile, inBuffer, inAvail, &got) || got != inAvail) failureExit();
    }
    --inAvail;
    --remaining;
    return inBuffer[inFilled - inAvail - 1];
}
