// Encoder driver: checks the BMP headers and runs the coding stages block by
// block into a .vek stream (the 12-byte header here, the rest through the
// stages).
#include <algorithm>
#include <cstdint>

#include "arithmetic_coder.h"
#include "encoder_driver.h"

#include "block_pipeline.h"
#include "block_sort.h"

namespace {

const uint32_t MAX_DIMENSION = 65535;
const uint32_t INFO_HEADER_SIZE = 40;

bool acceptedBitCount(uint32_t bitCount) {
    return bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

} // namespace

int checkBitmapHeader(ByteSource &input, AcceptedBitmap *out) {
    uint8_t bytes[BMP_HEADERS_SIZE];
    size_t got = 0;
    const int64_t fileLength = input.size();
    if (fileLength < 0 || !input.read(bytes, sizeof(bytes), &got)) return VEK_FAILURE_READ;
    if (got < 2 || bytes[0] != 'B' || bytes[1] != 'M') return VEK_FAILURE_NOT_BMP;
    if (got != sizeof(bytes) || fileLength < static_cast<int64_t>(BMP_HEADERS_SIZE))
        return VEK_FAILURE_SHORT_BMP;
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    unpackBitmapHeaders(bytes, &file, &info);

    // The checks go from the kind of file to its size, so that a refusal
    // names the first thing a user would have to change. An info header
    // shorter than 40 bytes (the old 12-byte kind) has none of the fields
    // read below where they are looked for.
    if (info.biSize < INFO_HEADER_SIZE) return VEK_FAILURE_BMP_HEADER;
    if (info.biCompression != 0) return VEK_FAILURE_COMPRESSED_BMP;
    // Whole-byte pixels only: others could not come back as the same bytes
    // in the rebuilt headers' layout.
    if (!acceptedBitCount(info.biBitCount)) return VEK_FAILURE_BIT_COUNT;
    if (file.bfOffBits >= 65536) return VEK_FAILURE_TOO_LARGE;  // the 16-bit colour-table size

    // Where the data bytes (colour table, any gap, pixel rows) begin. The
    // rebuilt file has a 40-byte info header, so an 8-bit picture's colour
    // table must come right after it: the bytes of a longer info header are
    // skipped. Other pictures carry a longer header's extra bytes as data,
    // from offset 54 on.
    uint64_t dataStart = BMP_HEADERS_SIZE;
    if (info.biBitCount == 8 && info.biSize > INFO_HEADER_SIZE) dataStart = uint64_t(14) + info.biSize;
    if (file.bfOffBits < dataStart) return VEK_FAILURE_BMP_HEADER;

    if (info.biHeight < 0) return VEK_FAILURE_TOP_DOWN;
    const int64_t width = info.biWidth < 0 ? -static_cast<int64_t>(info.biWidth) : info.biWidth;
    const int64_t height = info.biHeight;
    if (width > MAX_DIMENSION || height > MAX_DIMENSION) return VEK_FAILURE_TOO_LARGE;

    VekFileHeader h;
    for (int k = 0; k < 4; ++k) h.magic[k] = VEK_MAGIC[k];
    h.paletteSize = static_cast<uint16_t>(file.bfOffBits - dataStart);
    h.blockFactor = 0;
    h.bitCount = static_cast<uint8_t>(info.biBitCount);
    h.width = static_cast<uint16_t>(width);
    h.height = static_cast<uint16_t>(height);
    const uint64_t n = dataSizeOf(h);
    if (n > static_cast<uint64_t>(INT32_MAX)) return VEK_FAILURE_TOO_LARGE;

    // The file must hold its colour table and its pixel rows.
    const int64_t rowBytes = (width * info.biBitCount + 31) / 32 * 4;
    if (fileLength < static_cast<int64_t>(file.bfOffBits) + rowBytes * height) return VEK_FAILURE_SHORT_BMP;

    if (!input.seekTo(dataStart)) return VEK_FAILURE_READ;
    out->header = h;
    out->dataSize = static_cast<int32_t>(n);
    return VEK_FAILURE_NONE;
}

uint64_t encodeBound(uint64_t bmpSize) {
    if (bmpSize < BMP_HEADERS_SIZE) return 0;
    // The data bytes read from the file: at most F of them (the data start
    // at offset 54, or later for an 8-bit picture with a longer info header,
    // which only leaves fewer bytes; every term below grows with F); past
    // the file's end zeros. The data size N is at most 4F (a row's data, width rounded
    // up to 4 pixels, is at most four times its bytes in the file, for one
    // pixel of 32 bits), so at most Z = 3F zeros follow.
    const uint64_t fileData = bmpSize - BMP_HEADERS_SIZE;
    const uint64_t zeros = std::min<uint64_t>(3 * fileData, INT32_MAX);
    // Pre-coded, a run of k bytes takes at most 1.25 k bytes, and the zeros
    // join one run, cut every 256 bytes into five pre-coded bytes; the run
    // that crosses from the file's bytes into the zeros costs at most five
    // bytes more, and the end marker one.
    const uint64_t precoded = (5 * fileData + 3) / 4 + 5 * ((zeros + 255) / 256) + 5 + 1;
    // Every block but the last holds at least BLOCK_UNIT - BLOCK_CLOSE_SHORTFALL bytes.
    const uint64_t blocks = precoded / (BLOCK_UNIT - BLOCK_CLOSE_SHORTFALL) + 1;
    const SymbolCostBounds cost = symbolCostBounds();
    // The coder emits at most the bits its symbols cost (its range starts at
    // 2^25 and ends no higher), then 26 bits of low; the last byte is padded.
    const uint64_t bits = (precoded * cost.perByte + blocks * cost.perBlock + 1023) / 1024 + coder::CODE_BITS;
    const uint64_t bound = VEK_HEADER_SIZE + (bits + 7) / 8 + 1;
    // The encoder writes no stream that a decoder's signed 32-bit count of
    // coded bytes could not read.
    return std::min<uint64_t>(bound, static_cast<uint64_t>(INT32_MAX) + VEK_HEADER_SIZE);
}

uint32_t EncoderContext::encode(const AcceptedBitmap &picture, ByteSource &input, ByteSink &output, uint32_t blockFactor) {
    if (blockFactor == 0) blockFactor = chooseBlockFactor(picture.dataSize);
    EncoderBlock block(memory_, size_t(blockFactor) * BLOCK_UNIT);
    VekFileHeader header = picture.header;
    header.blockFactor = static_cast<uint8_t>(blockFactor);
    uint8_t headerBytes[VEK_HEADER_SIZE];
    packVekHeader(header, headerBytes);
    encoder_.start(output, headerBytes, VEK_HEADER_SIZE);

    // The picture's data bytes are read through a buffer from where the
    // header check left the source.
    precoder_.start(input, picture.dataSize);

    // More threads pay off from two blocks on.
    if (operationThreads().threads >= 2 && static_cast<uint32_t>(picture.dataSize) >= block.capacity)
        encodeBlocksInPipeline(block);
    else
        encodeBlocks(block);
    encoder_.finish();
    return blockFactor;
}

namespace {

// Percentages of one block's fill, kept to be reported from the caller's
// thread when the block is coded (a repeat of the value before it is left
// out). Within an encode they only rise.
struct ProgressLog final : ProgressSink {
    int32_t values[101];
    uint32_t count;
    void clear() { count = 0; }
    void report(int32_t percent) override {
        if (count > 0 && values[count - 1] == percent) return;
        if (count == sizeof(values) / sizeof(values[0])) --count;
        values[count++] = percent;
    }
};

} // namespace

void EncoderContext::encodeBlocks(EncoderBlock &block) {
    int isLast;
    do {
        isLast = precoder_.fillBlock(block.bytes(), block.capacity, block.blockLast, progress_);
        sortBlock(block);
        encodeColumn(encoder_, symbols_, block.lastColumn.get(), block.blockLast, block.primaryIndex, isLast);
    } while (!isLast);
}

namespace {

// What a sorting thread hands to the coding one besides its block, whose
// last column (or the column's move-to-front ranks), length and primary
// index stay in the sorting thread's EncoderBlock until the block is coded.
struct SortedBlock {
    int isLast;
    bool ranks;
    ProgressLog progress;
};

} // namespace

void EncoderContext::encodeBlocksInPipeline(EncoderBlock &first) {
    // Two sorting threads, each with its own block, take the blocks in turn:
    // the first the even ones, in `first`, the second the odd ones, in a
    // second block. Where this thread is still coding an earlier block, they
    // also find the move-to-front ranks, so that it only codes; a block it
    // already waits for (always the first) it gets as the column and codes
    // straight from it, with the ranks found on the way. Either way the
    // bytes are the same. (The second block is declared before the threads,
    // so they end before it is released.)
    EncoderBlock second(memory_, first.capacity);
    EncoderBlock *lanes[BlockPipeline::SLOTS] = {&first, &second};

    SortedBlock blocks[BlockPipeline::SLOTS];
    const bool reporting = progress_ != nullptr;

    BlockPipeline pipeline;
    auto sortLane = [this, &pipeline, &lanes, &blocks, reporting](uint32_t lane) {
        EncoderBlock &block = *lanes[lane];
        for (uint32_t k = lane;; k += BlockPipeline::SLOTS) {
            if (!pipeline.waitForTurn(k)) return;
            SortedBlock &b = blocks[k % BlockPipeline::SLOTS];
            b.progress.clear();
            b.isLast = precoder_.fillBlock(block.bytes(), block.capacity, block.blockLast,
                                           reporting ? &b.progress : nullptr);
            pipeline.passTurn(k, b.isLast != 0);
            sortBlock(block);
            b.ranks = k != 0 && pipeline.consumerBehind(k);
            if (b.ranks) moveToFrontRanks(block.lastColumn.get(), block.blockLast);
            pipeline.publish(k);
            if (b.isLast) return;
        }
    };
    // The odd blocks' thread first: it waits for block 0 to start, so if
    // either thread cannot be had, nothing has been read yet.
    StageThread odd(pipeline), even(pipeline);
    if (!odd.start([&] { sortLane(1); })) {
        encodeBlocks(first);
        return;
    }
    if (!even.start([&] { sortLane(0); })) {
        pipeline.stop();
        odd.finish();
        encodeBlocks(first);
        return;
    }
    for (uint32_t k = 0;; ++k) {
        if (!pipeline.waitForBlock(k)) break;  // a sorting thread failed
        const SortedBlock &b = blocks[k % BlockPipeline::SLOTS];
        // Reported now, where one thread would have filled this block.
        if (reporting)
            for (uint32_t p = 0; p < b.progress.count; ++p) progress_->report(b.progress.values[p]);
        const EncoderBlock &block = *lanes[k % BlockPipeline::SLOTS];
        if (b.ranks)
            encodeRanks(encoder_, symbols_, block.lastColumn.get(), block.blockLast, block.primaryIndex, b.isLast);
        else
            encodeColumn(encoder_, symbols_, block.lastColumn.get(), block.blockLast, block.primaryIndex, b.isLast);
        const int isLast = b.isLast;
        pipeline.release();
        if (isLast) break;
    }
    even.finish();
    odd.finish();
}
