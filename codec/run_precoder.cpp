// Byte-run pre-coding and block assembly (encoder), run expansion (decoder)
// and the choice of the block size.
//
// A run of k equal bytes (cut after 256) is stored as itself for k < 4 and as
// four copies plus a count byte k - 4 otherwise. Blocks hold whole runs; the
// last block ends with the marker 0x7F.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "hot_path.h"
#include "vek_codec.h"
#include "window_messages.h"
#include "work_buffers.h"

namespace {

const uint32_t RUN_END = 0x00010101;
const uint8_t BLOCK_END_MARKER = 0x7F;
const uint32_t MAX_RUN = 256;
const uint32_t MAX_SINGLE_BLOCK_DATA = MAX_BLOCK_FACTOR * BLOCK_UNIT; // 2,088,960

bool isRunEnd(uint32_t run) {
    return (run & 0xFFFF) == (RUN_END & 0xFFFF);
}

} // namespace

void VekCodec::chooseBlockFactor() {
    if (!autoBlockFactor) return;
    const int32_t n = dataSize;
    if (n <= static_cast<int32_t>(MAX_SINGLE_BLOCK_DATA)) {
        BlockFactor = n <= static_cast<int32_t>(BLOCK_UNIT) ? 1 : (static_cast<uint32_t>(n) + BLOCK_UNIT - 1) / BLOCK_UNIT;
        return;
    }
    const uint32_t size = static_cast<uint32_t>(n);
    uint32_t parts = 2;
    while (size / parts > MAX_SINGLE_BLOCK_DATA) ++parts;
    BlockFactor = (size / parts) / BLOCK_UNIT;
}

uint8_t VekCodec::readDataByte() {
    if (inAvail == 0) {
        size_t got = 0;
        if (!pictureInput->read(inBuffer, IO_BUFFER_SIZE, &got)) failureExit(VEK_FAILURE_READ);
        // Past the end of the file the picture's data read as zeros.
        if (got < IO_BUFFER_SIZE) std::memset(inBuffer + got, 0, IO_BUFFER_SIZE - got);
        inFilled = IO_BUFFER_SIZE;
        inAvail = IO_BUFFER_SIZE;
    }
    return inBuffer[inFilled - inAvail--];
}

void VekCodec::unreadDataByte() {
    ++inAvail;
}

uint32_t VekCodec::readRun() {
    if (--remaining < 0) return RUN_END;
    const uint8_t v = readDataByte();
    uint32_t length = 1;
    for (;;) {
        if (remaining > 0 && inAvail > 0) {
            // The next byte is in the buffer: look at it before taking it.
            if (inBuffer[inFilled - inAvail] != v || length >= MAX_RUN) break;  // it starts the next run
            --inAvail;
            --remaining;
            ++length;
            continue;
        }
        if (--remaining < 0) break;  // the data end with this run
        const uint8_t b = readDataByte();
        if (b == v && length < MAX_RUN) {
            ++length;
            continue;
        }
        ++remaining;  // the byte starts the next run
        unreadDataByte();
        break;
    }
    return (length << 16) | v;
}

int VekCodec::fillBlock() {
    return fillBlock(workspace);
}

VEK_HOT_PATH int VekCodec::fillBlock(BlockWorkspace &workspace) {
    // The bytes go into the packed words' memory one a byte: that is all
    // the sort of most blocks needs, and a quarter of the memory to write.
    uint8_t *text = reinterpret_cast<uint8_t *>(workspace.packedBlock);
    // The index at which the block's length reaches C - BLOCK_CLOSE_SHORTFALL.
    const int32_t closeAt = static_cast<int32_t>(BlockFactor * BLOCK_UNIT - BLOCK_CLOSE_SHORTFALL) - 1;
    int32_t last = 0;
    for (;;) {
        // Short runs that end inside the buffer, straight from it: what
        // readRun would return, without its byte-at-a-time reading.
        if (remaining >= 2 && inAvail >= 2) {
            const uint32_t avail = std::min(static_cast<uint32_t>(remaining), inAvail);
            const uint8_t *p = inBuffer + (inFilled - inAvail);
            const uint8_t v = p[0];
            if (p[1] != v) {
                text[last] = v;
                --inAvail;
                --remaining;
                if (last >= closeAt) break;
                ++last;
                continue;
            }
            if (avail >= 4 && p[2] != v) {
                text[last] = v;
                text[last + 1] = v;
                inAvail -= 2;
                remaining -= 2;
                ++last;
                if (last >= closeAt) break;
                ++last;
                continue;
            }
        }
        const uint32_t run = readRun();
        if (isRunEnd(run)) {
            text[last] = BLOCK_END_MARKER;
            workspace.blockLast = last;
            return 1;
        }
        const uint32_t v = run & 0xFF;
        const uint32_t length = run >> 16;
        const uint32_t copies = std::min<uint32_t>(length, 4);
        for (uint32_t k = 0; k < copies; ++k, ++last) text[last] = static_cast<uint8_t>(v);
        if (length >= 4) {
            text[last] = static_cast<uint8_t>(length - 4);
        } else {
            --last;  // stay on the last byte written
        }
        if (length >= 4 && progressWindow != nullptr) {
            int32_t percentDone = 100;
            if (remaining >= 0 && dataSize > 0)
                percentDone = 100 - static_cast<int32_t>(static_cast<int64_t>(remaining) * 100 / dataSize);
            reportProgress(percentDone);
        }
        if (last >= closeAt) break;
        ++last;
    }
    workspace.blockLast = last;
    return 0;
}

void VekCodec::reportProgress(int32_t percentDone) {
    if (progressLog != nullptr)
        progressLog->note(percentDone);
    else
        postPercent(percentDone);
}

void VekCodec::postProgress(const ProgressLog &log) {
    for (uint32_t k = 0; k < log.count; ++k) postPercent(log.values[k]);
}

void VekCodec::postPercent(int32_t percentDone) {
    if (percentDone == lastProgress) return;
    lastProgress = percentDone;
    platform::postMessage(progressWindow, progressMessage, progressParam, percentDone);
}

namespace {

// Expands the runs of the decoded block into `sink`, which counts and bounds
// the restored bytes. A count byte must lie inside the block.
template <typename Sink> void expandBlock(const BlockWorkspace &workspace, int isLast, Sink &sink) {
    const uint8_t *text = workspace.blockText;
    const int32_t end = isLast ? workspace.blockLast - 1 : workspace.blockLast;
    int previous = -1;
    int count = 0;
    int32_t i = 0;
    while (i <= end) {
        // Bytes up to and including the fourth of a run go out as they are,
        // together; the byte after that fourth one is the run's count.
        const int32_t start = i;
        bool fourth = false;
        while (i <= end && !fourth) {
            // Eight bytes at once where none equals the byte before it: none
            // of them extends a run. (From the second byte of the stretch
            // on, the byte before is `previous`.)
            if (i > start && end - i >= 7) {
                uint64_t before, here;
                std::memcpy(&before, text + i - 1, sizeof(before));
                std::memcpy(&here, text + i, sizeof(here));
                const uint64_t same = before ^ here;  // a zero byte where a byte repeats
                if (((same - 0x0101010101010101ull) & ~same & 0x8080808080808080ull) == 0) {
                    i += 8;
                    previous = text[i - 1];
                    count = 1;
                    continue;
                }
            }
            // Otherwise up to eight bytes one at a time.
            for (const int32_t stop = std::min(end, i + 7); i <= stop; ++i) {
                const uint8_t b = text[i];
                if (b != previous) {
                    count = 1;
                    previous = b;
                } else if (++count == 4) {
                    fourth = true;
                    break;
                }
            }
        }
        if (!fourth) {
            sink.putBytes(text + start, static_cast<uint32_t>(i - start));
            break;
        }
        sink.putBytes(text + start, static_cast<uint32_t>(i - start + 1));
        if (i + 1 > end) failureExit(VEK_FAILURE_DAMAGED_VEK);
        sink.put(text[i], text[i + 1]);
        count = 0;
        i += 2;
    }
    if (isLast && text[workspace.blockLast] != BLOCK_END_MARKER) failureExit(VEK_FAILURE_DAMAGED_VEK);
}

// Bytes for the output stream, through the codec's output buffer.
struct BufferedOutput {
    VekCodec &codec;
    ByteSink &output;
    void put(uint8_t b, uint32_t copies) {
        if (copies > codec.expectedBytes - codec.deliveredBytes) failureExit(VEK_FAILURE_DAMAGED_VEK);
        codec.deliveredBytes += copies;
        if (copies == 1) {
            codec.outBuffer[codec.outPos++] = b;
            if (codec.outPos == IO_BUFFER_SIZE) flush();
            return;
        }
        while (copies > 0) {
            const uint32_t room = IO_BUFFER_SIZE - codec.outPos;
            const uint32_t n = std::min(room, copies);
            std::memset(codec.outBuffer + codec.outPos, b, n);
            codec.outPos += n;
            copies -= n;
            if (codec.outPos == IO_BUFFER_SIZE) flush();
        }
    }
    void putBytes(const uint8_t *bytes, uint32_t length) {
        if (length > codec.expectedBytes - codec.deliveredBytes) failureExit(VEK_FAILURE_DAMAGED_VEK);
        codec.deliveredBytes += length;
        while (length > 0) {
            const uint32_t room = IO_BUFFER_SIZE - codec.outPos;
            const uint32_t n = std::min(room, length);
            std::memcpy(codec.outBuffer + codec.outPos, bytes, n);
            codec.outPos += n;
            bytes += n;
            length -= n;
            if (codec.outPos == IO_BUFFER_SIZE) flush();
        }
    }
    void flush() {
        if (codec.outPos > 0 && !output.write(codec.outBuffer, codec.outPos)) failureExit(VEK_FAILURE_WRITE);
        codec.outPos = 0;
    }
};

// Bytes for the picture image.
struct ImageOutput {
    VekCodec &codec;
    void put(uint8_t b, uint32_t copies) {
        if (copies > codec.expectedBytes - codec.imageLength) failureExit(VEK_FAILURE_DAMAGED_VEK);
        const uint32_t needed = codec.imageLength + copies;
        if (needed > codec.imageCapacity) grow(needed);
        if (copies == 1)
            codec.image[codec.imageLength] = b;
        else
            std::memset(codec.image + codec.imageLength, b, copies);
        codec.imageLength = needed;
    }
    void putBytes(const uint8_t *bytes, uint32_t length) {
        if (length > codec.expectedBytes - codec.imageLength) failureExit(VEK_FAILURE_DAMAGED_VEK);
        const uint32_t needed = codec.imageLength + length;
        if (needed > codec.imageCapacity) grow(needed);
        if (length > 0) std::memcpy(codec.image + codec.imageLength, bytes, length);
        codec.imageLength = needed;
    }
    // The image grows with the restored data, up to the header's data size,
    // so a small damaged file cannot make the codec reserve a huge picture.
    void grow(uint32_t needed) {
        uint64_t capacity = std::max<uint64_t>(codec.imageCapacity, IMAGE_FIRST_CAPACITY);
        while (capacity < needed) capacity *= 2;
        capacity = std::min<uint64_t>(capacity, codec.expectedBytes);
        uint8_t *bigger = static_cast<uint8_t *>(codec.workspace.resize(codec.image, static_cast<size_t>(capacity)));
        if (bigger == nullptr) failureExit(VEK_FAILURE_OUT_OF_MEMORY);
        codec.image = bigger;
        codec.imageCapacity = static_cast<uint32_t>(capacity);
    }
};

} // namespace

VEK_HOT_PATH void VekCodec::writeBlockToFile(ByteSink &output, int isLast) {
    BufferedOutput sink{*this, output};
    expandBlock(workspace, isLast, sink);
    sink.flush();
}

VEK_HOT_PATH void VekCodec::writeBlockToImage(int isLast) {
    ImageOutput sink{*this};
    expandBlock(workspace, isLast, sink);
}
