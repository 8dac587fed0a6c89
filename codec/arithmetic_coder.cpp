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

void updateModel(FrequencyModel &model, uint32_t symbol) {
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
    uint32_t cumLow = 0;
    for (uint32_t k = 1; k < symbol; ++k) cumLow += model.freq[k];
    const uint32_t q = range / model.total;
    low += q * cumLow;
    if (cumLow + model.freq[symbol] < model.total)
        range = q * model.freq[symbol];
    else
        range -= q * cumLow;

    while (range <= QUARTER) {
        if (low + range <= HALF) {
            putBit(0);
            for (; pending > 0; --pending) putBit(1);
        } else if (low >= HALF) {
            putBit(1);
            for (; pending > 0; --pending) putBit(0);
            low -= HALF;
        } else {
            ++pending;
            low -= QUARTER;
        }
        low <<= 1;
        range <<= 1;
    }
    updateModel(model, symbol);
}

uint32_t VekCodec::decodeSymbol(FrequencyModel &model) {
    const uint32_t q = range / model.total;
    uint32_t t = code / q;
    if (t > model.total - 1) t = model.total - 1;
    uint32_t symbol = 1;
    uint32_t cumLow = 0;
    while (cumLow + model.freq[symbol] <= t) {
        cumLow += model.freq[symbol];
        ++symbol;
    }
    const uint32_t cumHigh = cumLow + model.freq[symbol];
    code -= q * cumLow;
    if (cumHigh < model.total)
        range = q * model.freq[symbol];
    else
        range -= q * cumLow;
    while (range <= QUARTER) {
        range <<= 1;
        code = (code << 1) + getBit();
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
    if (outPos == IO_BUFFER_SIZE) {
        if (!platform::writeFile(streamFile, outBuffer, IO_BUFFER_SIZE)) failureExit();
        outPos = 0;
    }
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
