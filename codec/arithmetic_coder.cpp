// Adaptive frequency models, the 26-bit binary arithmetic coder and its bit
// input and output: produces and reads the coded stream after the .vek
// header, byte for byte (models, coder arithmetic, complemented bytes).
//
// All arithmetic is unsigned 32-bit: range stays within (2^24, 2^25] after
// renormalisation and no model total exceeds 3200, so q * cumLow < 2^26.
// Stream bytes are stored as the one's complement of their bits.
#include <cstring>

#include "arithmetic_coder.h"
#include "work_buffers.h"

using namespace coder;

namespace {

constexpr std::array<uint64_t, RECIPROCAL_LIMIT + 1> reciprocals() {
    std::array<uint64_t, RECIPROCAL_LIMIT + 1> entries{};
    for (uint64_t d = 1; d <= RECIPROCAL_LIMIT; ++d) entries[d] = ((uint64_t(1) << 38) + d - 1) / d;
    return entries;
}

constexpr std::array<std::array<int16_t, 24>, 25> fromIndexRows() {
    std::array<std::array<int16_t, 24>, 25> rows{};
    for (int j = 0; j < 25; ++j)
        for (int k = 0; k < 24; ++k) rows[j][k] = k >= j ? -1 : 0;
    return rows;
}

} // namespace

const std::array<uint64_t, RECIPROCAL_LIMIT + 1> coder::RECIPROCALS = reciprocals();
alignas(16) const std::array<std::array<int16_t, 24>, 25> coder::FROM_INDEX = fromIndexRows();

void coder::rebuildCumulative(FrequencyModel &model) {
    const uint32_t n = model.symbolCount;
    const uint32_t groups = groupCount(model);
    uint32_t before = 0;  // counts of the groups so far
    for (uint32_t g = 0; g < groups; ++g) {
        model.groupBase[g] = static_cast<int16_t>(before);
        uint32_t sum = 0;  // counts of this group so far; freq[0] is 0
        for (uint32_t k = g * GROUP; k < (g + 1) * GROUP; ++k) {
            sum += k <= n ? model.freq[k] : 0;
            model.cum[k] = k <= n ? static_cast<int16_t>(sum) : PAST_LAST;
        }
        before += sum;
    }
    const uint32_t baseEntries = (groups + LANES - 1) / LANES * LANES;
    for (uint32_t g = groups; g < baseEntries; ++g) model.groupBase[g] = PAST_LAST;
    for (uint32_t k = 0; k < LANES; ++k) model.incrementLanes[k] = static_cast<int16_t>(model.increment);
    for (uint32_t k = 0; k < GROUP; ++k) model.belowN[k] = k < n ? -1 : 0;
    model.reciprocal = reciprocalOf(model.total);
}

void coder::halveCounts(FrequencyModel &model) { halveInPlace(model); }

void StreamBits::appendRun(uint32_t bit, uint32_t count) {
    while (count > 0) {
        const uint32_t take = count < 24 ? count : 24;
        append(bit ? (1u << take) - 1 : 0, take);
        count -= take;
    }
}

namespace {

// One symbol in the encoder's own form, where the bits whose value a later
// carry would decide are held back as a count (`pending`): all doublings of
// the interval at once and without branches. One doubling at a time would
// emit a bit (and the bits held back until then) while the interval lies in
// one half, and hold one back while it straddles the middle. Once it
// straddles, every further doubling straddles too (low lands in the lower
// half, the top in the upper half), so the steps are: first the emits, as
// many as the leading bits low and top share (at most the doublings), then
// the straddles.
struct PendingRegisters {
    StreamBits out;
    uint32_t low, range, pending;

    explicit PendingRegisters(RangeEncoder &c) : out(c), low(c.low), range(c.range), pending(c.pending) {}

    void store() {
        out.store();
        out.codec.low = low;
        out.codec.range = range;
        out.codec.pending = pending;
    }

    void encode(FrequencyModel &model, uint32_t symbol) {
        const uint32_t cumLow = cumulativeBelow(model, symbol);
        const uint32_t count = model.freq[symbol];
        const uint32_t q = divideByTotal(range, model.total);
        low += q * cumLow;
        if (cumLow + count < model.total)
            range = q * count;
        else
            range -= q * cumLow;

        const uint32_t shift = doublings(range);
        const uint32_t top = low + range - 1;  // below 2^26, above low
        const uint32_t differ = (low ^ top) | 1;
        const uint32_t common = static_cast<uint32_t>(__builtin_clz(differ)) - (32 - CODE_BITS);
        const uint32_t emits = common < shift ? common : shift;
        if (emits != 0) {
            // The emitted bits, with the held-back bits (the complement of
            // the first) after the first one.
            const uint32_t emitted = low >> (CODE_BITS - emits);
            const uint32_t first = emitted >> (emits - 1);
            out.append(first, 1);
            out.appendRun(first ^ 1, pending);
            out.append(emitted & ((1u << (emits - 1)) - 1), emits - 1);
            pending = 0;
        }
        // The emits shift out the top bits; each straddle then takes QUARTER
        // off a low in [QUARTER, HALF) and doubles it, which leaves the low
        // 25 bits of the doubled low.
        const uint32_t straddles = shift - emits;
        pending += straddles;
        low = (low << shift) & (straddles != 0 ? HALF - 1 : REGISTER - 1);
        range <<= shift;
        updateModel(model, symbol);
    }
};

} // namespace

// In the held-back form, p held-back bits and low stand for the stream
// value (2^p - 1) * 2^25 + low after the bits emitted (with the p bits in
// front of low's 26): the held 0 bit with p - 1 bits 1 after it, and low +
// 2^25 below them, whose bit 26 is the carry into them.
EncoderRegisters::EncoderRegisters(RangeEncoder &c)
    : out(c), low(c.low), range(c.range), fresh(0), held(c.pending != 0), ones(0) {
    if (held) {
        low += coder::HALF;
        ones = c.pending - 1;
    }
}

void EncoderRegisters::passOnSlowly(uint32_t carry, uint32_t chunk, uint32_t m, uint32_t trailing) {
    if (carry != 0) {
        // Only a held 0 takes a carry (nothing else passed on can).
        out.append(1, 1);
        out.appendRun(0, ones);
        held = 0;
        ones = 0;
    }
    if (trailing < m) {
        if (held) {
            out.append(0, 1);
            out.appendRun(1, ones);
        }
        out.append(chunk >> (trailing + 1), m - trailing - 1);
        held = 1;
        ones = trailing;
    } else if (held) {
        ones += m;
    } else {
        // 1 bits after a carry has settled the bits before them: a carry
        // into them would be a second one.
        out.appendRun(1, m);
    }
}

void EncoderRegisters::store() {
    passOn(fresh);
    // low is below 2^26 now. With a held 0 and low's top bit set, the held
    // bits become the held-back count; otherwise the interval (range at most
    // 2^25) stays below 2^26 and a held 0 is settled.
    uint32_t pending = 0;
    if (held && low >= coder::HALF) {
        pending = ones + 1;
        low -= coder::HALF;
    } else if (held) {
        out.append(0, 1);
        out.appendRun(1, ones);
    }
    out.store();
    out.codec.low = static_cast<uint32_t>(low);
    out.codec.range = range;
    out.codec.pending = pending;
}

void RangeDecoder::refillReader(uint32_t needed) {
    // Bytes at hand in the read buffer first, then through readByte, which
    // refills the buffer.
    uint32_t take = (64 - readerCount) / 8;
    if (take > avail) take = avail;
    if (remaining < static_cast<int32_t>(take)) take = remaining > 0 ? static_cast<uint32_t>(remaining) : 0;
    const uint8_t *bytes = buffer + (filled - avail);
    if (take > 0 && avail >= 8) {
        takeStoredBytes(bytes, take, readerBits, readerCount);
    } else {
        for (uint32_t k = 0; k < take; ++k) {
            readerBits |= static_cast<uint64_t>(static_cast<uint8_t>(~bytes[k])) << (56 - readerCount);
            readerCount += 8;
        }
    }
    avail -= take;
    remaining -= static_cast<int32_t>(take);
    while (readerCount <= 56 && remaining > 0) {
        const uint64_t byte = static_cast<uint8_t>(~readByte());
        readerBits |= byte << (56 - readerCount);
        readerCount += 8;
    }
    if (readerCount < needed) failureExit(VEK_FAILURE_DAMAGED_VEK);  // coded data exhausted
}

void initModel(FrequencyModel &model, uint32_t n, uint32_t increment, uint32_t limit) {
    const uint32_t start = increment == 0 ? 1 : increment;
    for (uint32_t k = 1; k <= n; ++k) model.freq[k] = start;
    model.total = n * start;
    model.symbolCount = n;
    model.increment = increment;
    model.limit = limit;
    model.freq[0] = 0;
    model.freq[n + 1] = 0;
    rebuildCumulative(model);
}

void RangeEncoder::encodeSymbol(FrequencyModel &model, uint32_t symbol) {
    PendingRegisters registers(*this);
    registers.encode(model, symbol);
    registers.store();
}

uint32_t RangeDecoder::decodeSymbol(FrequencyModel &model) {
    DecoderRegisters registers(*this);
    const uint32_t symbol = registers.decode(model);
    registers.store();
    return symbol;
}

void RangeEncoder::encodeValue32(uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) encodeSymbol(byteModel, ((value >> shift) & 0xFF) + 1);
}

uint32_t RangeDecoder::decodeValue32() {
    uint32_t value = 0;
    for (int k = 0; k < 4; ++k) value = (value << 8) + (decodeSymbol(byteModel) - 1);
    return value;
}

void RangeEncoder::start(ByteSink &sink, const uint8_t *prefix, uint32_t prefixSize) {
    output = &sink;
    bitBuffer = 0;
    bitsLeft = 8;
    std::memcpy(buffer, prefix, prefixSize);
    used = prefixSize;
    written = 0;
    limit = static_cast<uint64_t>(INT32_MAX) + prefixSize;
    initModel(byteModel, 256, 0, 256);
    low = 0;
    range = HALF;
    pending = 0;
}

void RangeEncoder::putBit(uint32_t bit) {
    if (bitsLeft != 0) {
        bitBuffer = (bitBuffer << 1) + (bit & 1);
        --bitsLeft;
        return;
    }
    buffer[used++] = static_cast<uint8_t>(~bitBuffer);
    if (used == IO_BUFFER_SIZE) writeChunk();
    bitBuffer = bit & 1;
    bitsLeft = 7;
}

void RangeEncoder::finish() {
    for (int p = CODE_BITS - 1; p >= 0; --p) {
        const uint32_t bit = (low >> p) & 1;
        putBit(bit);
        for (; pending > 0; --pending) putBit(bit ^ 1);
    }
    if (bitsLeft > 0) {
        bitBuffer <<= bitsLeft;
        bitsLeft = 0;
    }
    buffer[used++] = static_cast<uint8_t>(~bitBuffer);
    writeChunk();
}

void RangeEncoder::writeChunk() {
    // A decoder counts the coded bytes of a file in a signed 32-bit number:
    // a longer file could be written but never read back, so the encode
    // fails instead of reporting success.
    written += used;
    if (written > limit) failureExit(VEK_FAILURE_TOO_LARGE);
    if (!output->write(buffer, used)) failureExit(VEK_FAILURE_WRITE);
    used = 0;
}

void RangeDecoder::start(ByteSource &source, int64_t codedBytes) {
    input = &source;
    readerBits = 0;
    readerCount = 0;
    avail = 0;
    filled = IO_BUFFER_SIZE;
    remaining = codedBytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(codedBytes < -1 ? -1 : codedBytes);
}

void RangeDecoder::startCoder() {
    initModel(byteModel, 256, 0, 256);
    code = 0;
    range = HALF;
    for (uint32_t k = 0; k < CODE_BITS; ++k) code = (code << 1) + getBit();
}

uint32_t RangeDecoder::getBit() {
    if (readerCount == 0) refillReader(1);
    const uint32_t bit = static_cast<uint32_t>(readerBits >> 63);
    readerBits <<= 1;
    --readerCount;
    return bit;
}

uint8_t RangeDecoder::readByte() {
    if (avail == 0) {
        avail = IO_BUFFER_SIZE;
        if (remaining < static_cast<int32_t>(IO_BUFFER_SIZE)) {
            avail = static_cast<uint32_t>(remaining);
            filled = static_cast<uint32_t>(remaining);
        }
        size_t got = 0;
        // The stream's length was told before: fewer bytes than that are a
        // read error (or a file that shrank meanwhile).
        if (!input->read(buffer, avail, &got) || got != avail) failureExit(VEK_FAILURE_READ);
    }
    --avail;
    --remaining;
    return buffer[filled - avail - 1];
}
