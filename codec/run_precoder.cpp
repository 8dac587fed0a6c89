// Byte-run pre-coding and block assembly (encoder), run expansion (decoder)
// and the choice of the block size: produces the pre-coded bytes, the block
// boundaries and the end marker of the format, and the header's blockFactor.
//
// A run of k equal bytes (cut after 256) is stored as itself for k < 4 and as
// four copies plus a count byte k - 4 otherwise. Blocks hold whole runs; the
// last block ends with the marker 0x7F.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "run_precoder.h"

#include "hot_path.h"
#include "vek_format.h"

namespace {

const uint32_t RUN_END = 0x00010101;
const uint8_t BLOCK_END_MARKER = 0x7F;
const uint32_t MAX_RUN = 256;
const uint32_t MAX_SINGLE_BLOCK_DATA = MAX_BLOCK_FACTOR * BLOCK_UNIT; // 2,088,960

bool isRunEnd(uint32_t run) {
    return (run & 0xFFFF) == (RUN_END & 0xFFFF);
}

} // namespace

uint32_t chooseBlockFactor(int32_t n) {
    if (n <= static_cast<int32_t>(MAX_SINGLE_BLOCK_DATA))
        return n <= static_cast<int32_t>(BLOCK_UNIT) ? 1 : (static_cast<uint32_t>(n) + BLOCK_UNIT - 1) / BLOCK_UNIT;
    const uint32_t size = static_cast<uint32_t>(n);
    uint32_t parts = 2;
    while (size / parts > MAX_SINGLE_BLOCK_DATA) ++parts;
    return (size / parts) / BLOCK_UNIT;
}

void RunPrecoder::start(ByteSource &input, int32_t dataSize) {
    input_ = &input;
    dataSize_ = dataSize;
    remaining_ = dataSize;
    avail_ = 0;
    filled_ = 0;
}

uint8_t RunPrecoder::readDataByte() {
    if (avail_ == 0) {
        size_t got = 0;
        if (!input_->read(buffer_, IO_BUFFER_SIZE, &got)) failureExit(VEK_FAILURE_READ);
        // Past the end of the file the picture's data read as zeros.
        if (got < IO_BUFFER_SIZE) std::memset(buffer_ + got, 0, IO_BUFFER_SIZE - got);
        filled_ = IO_BUFFER_SIZE;
        avail_ = IO_BUFFER_SIZE;
    }
    return buffer_[filled_ - avail_--];
}

uint32_t RunPrecoder::readRun() {
    if (--remaining_ < 0) return RUN_END;
    const uint8_t v = readDataByte();
    uint32_t length = 1;
    for (;;) {
        if (remaining_ > 0 && avail_ > 0) {
            // The next byte is in the buffer: look at it before taking it.
            if (buffer_[filled_ - avail_] != v || length >= MAX_RUN) break;  // it starts the next run
            --avail_;
            --remaining_;
            ++length;
            continue;
        }
        if (--remaining_ < 0) break;  // the data end with this run
        const uint8_t b = readDataByte();
        if (b == v && length < MAX_RUN) {
            ++length;
            continue;
        }
        ++remaining_;  // the byte starts the next run
        ++avail_;      // and is read again
        break;
    }
    return (length << 16) | v;
}

namespace {

// How many bytes from p on certainly lie in runs of fewer than four bytes,
// which are stored as they are: p[-3..7] are data bytes, and p starts a run
// or continues one of fewer than three bytes. Byte j of the word is zero
// where p[j-3..j] are equal, the fourth byte of a run (or a later one). With
// none of those, no run of four touches p[0..4]; otherwise the bytes before
// the first such run's start.
inline uint32_t shortRunBytes(const uint8_t *p) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t a, b, c, d;
    std::memcpy(&a, p - 3, sizeof(a));
    std::memcpy(&b, p - 2, sizeof(b));
    std::memcpy(&c, p - 1, sizeof(c));
    std::memcpy(&d, p, sizeof(d));
    const uint64_t differ = (a ^ b) | (b ^ c) | (c ^ d);
    const uint64_t fourth = (differ - 0x0101010101010101ull) & ~differ & 0x8080808080808080ull;
    if (fourth == 0) return 5;
    const uint32_t j = static_cast<uint32_t>(__builtin_ctzll(fourth)) / 8;  // the first one, exactly
    return j >= 3 ? j - 3 : 0;
#else
    (void)p;
    return 0;
#endif
}

// How many of p[0..limit-1] (limit >= 1) equal p[0] before the first that
// does not.
inline uint32_t runLength(const uint8_t *p, uint32_t limit) {
    const uint8_t v = p[0];
    uint32_t i = 1;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t pattern = 0x0101010101010101ull * v;
    for (; i + 8 <= limit; i += 8) {
        uint64_t word;
        std::memcpy(&word, p + i, sizeof(word));
        const uint64_t differ = word ^ pattern;
        if (differ != 0) return i + static_cast<uint32_t>(__builtin_ctzll(differ)) / 8;
    }
#endif
    while (i < limit && p[i] == v) ++i;
    return i;
}

} // namespace

VEK_HOT_PATH int RunPrecoder::fillBlock(uint8_t *text, size_t capacity, int32_t &blockLast, ProgressSink *progress) {
    // The index at which the block's length reaches C - BLOCK_CLOSE_SHORTFALL.
    const int32_t closeAt = static_cast<int32_t>(capacity - BLOCK_CLOSE_SHORTFALL) - 1;
    int32_t last = 0;
    for (;;) {
        // Runs that end inside the buffer are taken straight from it, words
        // at a time: what readRun would return, without its byte-at-a-time
        // reading. A run that reaches the buffer's end goes through readRun,
        // which reads on.
        uint32_t run = 0;
        const uint32_t window = remaining_ > 0 ? std::min(static_cast<uint32_t>(remaining_), avail_) : 0;
        if (window >= 2) {
            const uint8_t *p = buffer_ + (filled_ - avail_);
            if (window >= 8 && filled_ - avail_ >= 3 && last + 4 < closeAt) {
                // Bytes of short runs, none of them the block's last: as
                // they are, several at once. (A short run cut here goes on
                // as one that is as short, ending where it did.)
                const uint32_t take = shortRunBytes(p);
                if (take > 0) {
                    std::memcpy(text + last, p, 8);
                    avail_ -= take;
                    remaining_ -= static_cast<int32_t>(take);
                    last += static_cast<int32_t>(take);
                    continue;
                }
            }
            if (p[1] != p[0]) {
                text[last] = p[0];
                --avail_;
                --remaining_;
                if (last >= closeAt) break;
                ++last;
                continue;
            }
            const uint32_t length = runLength(p, std::min(window, MAX_RUN));
            if (length < window || length == MAX_RUN) {
                run = (length << 16) | p[0];
                avail_ -= length;
                remaining_ -= static_cast<int32_t>(length);
            }
        }
        if (run == 0) run = readRun();
        if (isRunEnd(run)) {
            text[last] = BLOCK_END_MARKER;
            blockLast = last;
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
        if (length >= 4 && progress != nullptr) {
            int32_t percentDone = 100;
            if (remaining_ >= 0 && dataSize_ > 0)
                percentDone = 100 - static_cast<int32_t>(static_cast<int64_t>(remaining_) * 100 / dataSize_);
            progress->report(percentDone);
        }
        if (last >= closeAt) break;
        ++last;
    }
    blockLast = last;
    return 0;
}

namespace {

// Expands the runs of the decoded block into `sink`, which counts and bounds
// the restored bytes. A count byte must lie inside the block.
template <typename Sink> void expandRuns(const uint8_t *text, int32_t blockLast, int isLast, Sink &sink) {
    const int32_t end = isLast ? blockLast - 1 : blockLast;
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
    if (isLast && text[blockLast] != BLOCK_END_MARKER) failureExit(VEK_FAILURE_DAMAGED_VEK);
}

} // namespace

void FileOutput::put(uint8_t b, uint32_t copies) {
    if (copies > expected_ - delivered_) failureExit(VEK_FAILURE_DAMAGED_VEK);
    delivered_ += copies;
    if (copies == 1) {
        buffer_[used_++] = b;
        if (used_ == IO_BUFFER_SIZE) flush();
        return;
    }
    while (copies > 0) {
        const uint32_t room = IO_BUFFER_SIZE - used_;
        const uint32_t n = std::min(room, copies);
        std::memset(buffer_ + used_, b, n);
        used_ += n;
        copies -= n;
        if (used_ == IO_BUFFER_SIZE) flush();
    }
}

void FileOutput::putBytes(const uint8_t *bytes, uint32_t length) {
    if (length > expected_ - delivered_) failureExit(VEK_FAILURE_DAMAGED_VEK);
    delivered_ += length;
    while (length > 0) {
        const uint32_t room = IO_BUFFER_SIZE - used_;
        const uint32_t n = std::min(room, length);
        std::memcpy(buffer_ + used_, bytes, n);
        used_ += n;
        bytes += n;
        length -= n;
        if (used_ == IO_BUFFER_SIZE) flush();
    }
}

void FileOutput::flush() {
    if (used_ > 0 && !output_.write(buffer_, used_)) failureExit(VEK_FAILURE_WRITE);
    used_ = 0;
}

void ImageOutput::start() {
    if (image != nullptr) {
        memory.release(image);
        image = nullptr;
    }
    length = 0;
    capacity = 0;
    // The image starts small and grows with the data (up to N), so a header
    // that announces a huge picture costs nothing until data arrive.
    const uint32_t first = expected < IMAGE_FIRST_CAPACITY ? expected : IMAGE_FIRST_CAPACITY;
    image = static_cast<uint8_t *>(memory.request(first > 0 ? first : 1));
    if (image == nullptr) failureExit(VEK_FAILURE_OUT_OF_MEMORY);
    capacity = first;
}

void ImageOutput::put(uint8_t b, uint32_t copies) {
    if (copies > expected - length) failureExit(VEK_FAILURE_DAMAGED_VEK);
    const uint32_t needed = length + copies;
    if (needed > capacity) grow(needed);
    if (copies == 1)
        image[length] = b;
    else
        std::memset(image + length, b, copies);
    length = needed;
}

void ImageOutput::putBytes(const uint8_t *bytes, uint32_t count) {
    if (count > expected - length) failureExit(VEK_FAILURE_DAMAGED_VEK);
    const uint32_t needed = length + count;
    if (needed > capacity) grow(needed);
    if (count > 0) std::memcpy(image + length, bytes, count);
    length = needed;
}

void ImageOutput::grow(uint32_t needed) {
    uint64_t bigger = std::max<uint64_t>(capacity, IMAGE_FIRST_CAPACITY);
    while (bigger < needed) bigger *= 2;
    bigger = std::min<uint64_t>(bigger, expected);
    uint8_t *moved = static_cast<uint8_t *>(memory.resize(image, static_cast<size_t>(bigger)));
    if (moved == nullptr) failureExit(VEK_FAILURE_OUT_OF_MEMORY);
    image = moved;
    capacity = static_cast<uint32_t>(bigger);
}

VEK_HOT_PATH void expandBlock(const uint8_t *text, int32_t blockLast, int isLast, FileOutput &output) {
    expandRuns(text, blockLast, isLast, output);
    output.flush();
}

VEK_HOT_PATH void expandBlock(const uint8_t *text, int32_t blockLast, int isLast, ImageOutput &output) {
    expandRuns(text, blockLast, isLast, output);
}
