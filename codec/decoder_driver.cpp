// Decoder drivers: a .vek stream back into a BMP file (its two headers
// here, the data bytes through the stages), or into a picture image.
#include "decoder_driver.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "block_pipeline.h"
#include "block_sort.h"

int readStreamHeader(ByteSource &input, VekFileHeader *out) {
    uint8_t bytes[VEK_HEADER_SIZE];
    size_t got = 0;
    if (!input.read(bytes, sizeof(bytes), &got)) return VEK_FAILURE_READ;
    // A file that starts with the magic but ends within the header was cut
    // short; anything else that short is some other file.
    const bool magic = got >= sizeof(VEK_MAGIC) && std::memcmp(bytes, VEK_MAGIC, sizeof(VEK_MAGIC)) == 0;
    if (!magic) return VEK_FAILURE_NOT_VEK;
    if (got != sizeof(bytes)) return VEK_FAILURE_DAMAGED_VEK;
    const VekFileHeader h = unpackVekHeader(bytes);
    if (h.blockFactor == 0) return VEK_FAILURE_NOT_VEK;
    // No encoder writes a data size beyond 2^31 - 1, and the image length
    // (an int) could not report one: a tiny file could otherwise make
    // loadFile succeed with a negative length.
    if (dataSizeOf(h) > static_cast<uint64_t>(INT32_MAX)) return VEK_FAILURE_NOT_VEK;
    *out = h;
    return VEK_FAILURE_NONE;
}

void DecoderContext::decodeToFile(const VekFileHeader &header, ByteSource &input, ByteSink &output) {
    // The BMP headers follow from the .vek header: they go out first.
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    restoredBitmapHeaders(header, &file, &info);
    uint8_t headerBytes[BMP_HEADERS_SIZE];
    packBitmapHeaders(file, info, headerBytes);
    decoder_.start(input, input.size() - static_cast<int64_t>(VEK_HEADER_SIZE));
    if (!output.write(headerBytes, BMP_HEADERS_SIZE)) failureExit(VEK_FAILURE_WRITE);
    const uint32_t expected = static_cast<uint32_t>(dataSizeOf(header));
    FileOutput out(output, expected);
    decodeBlocks(header, [&](const uint8_t *text, int32_t blockLast, int isLast) {
        expandBlock(text, blockLast, isLast, out);
    });
    // A restored file holds exactly the data bytes its header announces.
    if (out.delivered() != expected) failureExit(VEK_FAILURE_DAMAGED_VEK);
}

void DecoderContext::decodeToImage(const VekFileHeader &header, ByteSource &input, ImageOutput &image) {
    decoder_.start(input, input.size() - static_cast<int64_t>(VEK_HEADER_SIZE));
    image.start();
    decodeBlocks(header, [&](const uint8_t *text, int32_t blockLast, int isLast) {
        expandBlock(text, blockLast, isLast, image);
    });
    if (image.length != static_cast<uint32_t>(dataSizeOf(header))) failureExit(VEK_FAILURE_DAMAGED_VEK);
}

namespace {

// The pipeline overlaps the symbol decode of one block with the inverse
// transform and output of the one before; what it saves is the shorter of
// the two, and handing blocks to a thread on another processor costs cache
// refills and wake-ups. The inverse and output take 3 to 7 ns a block byte
// here, the symbol decode from 0.15 ns (flat art: runs of one byte) to 20 ns
// (photos). Art decoding at 0.15 ns a byte came out 3 to 16 % slower in two
// threads, so the pipeline starts only where the block just decoded took at
// least 1 ns a byte. Nor where the blocks still to come hold less than a
// quarter of the coded bytes of that block: a picture whose last block is a
// small rest (a 24-bit photo of 2.6 MB: 0.3 ms after 28 ms) has nothing to
// decode while the big block is inverted, and that inverse ran slower on
// the other processor (the two-thread decode took 0.081 s against 0.074 s).
const double PIPELINE_MIN_DECODE_NS_PER_BYTE = 1.0;
const int64_t PIPELINE_MIN_REST_PARTS = 4;

bool pipelinePays(std::chrono::steady_clock::time_point decodeStarted, int32_t blockLast, int64_t codedTaken,
                  int64_t codedLeft) {
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - decodeStarted).count();
    if (ns < PIPELINE_MIN_DECODE_NS_PER_BYTE * (static_cast<double>(blockLast) + 1)) return false;
    return codedLeft * PIPELINE_MIN_REST_PARTS >= codedTaken;
}

} // namespace

template <typename Write> void DecoderContext::decodeBlocks(const VekFileHeader &header, Write write) {
    DecoderBlock block(memory_, size_t(header.blockFactor) * BLOCK_UNIT);
    decoder_.startCoder();
    // A second thread pays off from two blocks on; with one block, it shares
    // the walk of the inverse transform of a large last block. Where other
    // work keeps the processors busy, it only takes time from this thread:
    // by default it starts once the decode of the blocks before has shown a
    // processor free (the first block is decoded in this thread alone, so
    // the check sees this thread and the machine's other work only).
    const ProcessorCheck processors(threads_, readLoad_);
    ProcessorCheck::Verdict verdict = ProcessorCheck::UNKNOWN;
    const bool pipelined = dataSizeOf(header) >= block.capacity;
    DecodedColumn decoded;
    decoded.column = block.lastColumn.get();
    for (;;) {
        const auto started = std::chrono::steady_clock::now();
        const int64_t codedBefore = decoder_.codedBytesLeft();
        const int isLast = decodeColumn(decoder_, symbols_, block.capacity, decoded);
        if (verdict == ProcessorCheck::UNKNOWN) verdict = processors.verdict();
        const bool free = verdict == ProcessorCheck::FREE;
        if (!isLast && pipelined && free) {
            const int64_t codedLeft = decoder_.codedBytesLeft();
            const int64_t codedTaken = codedBefore - codedLeft;
            const bool pays = processors.forced() || pipelinePays(started, decoded.blockLast, codedTaken, codedLeft);
            if (pays && decodeBlocksInPipeline(block, decoded, codedTaken, write)) return;
        }
        invertBlock(block, decoded.column, decoded.blockLast, decoded.primaryIndex, decoded.counts,
                    isLast && free ? 2 : 1);
        write(block.blockText.get(), decoded.blockLast, isLast);
        if (isLast) return;
    }
}

template <typename Write>
bool DecoderContext::decodeBlocksInPipeline(DecoderBlock &block, DecodedColumn &first, int64_t firstCoded,
                                            Write write) {
    WorkBuffer<uint8_t> secondColumn = memory_.take<uint8_t>(inverseScratchBytes(block.capacity));
    DecodedColumn blocks[BlockPipeline::SLOTS];
    int lastFlags[BlockPipeline::SLOTS] = {0, 0};
    blocks[0] = first;
    blocks[1].column = secondColumn.get();

    BlockPipeline pipeline;
    StageThread writer(pipeline);
    const bool started = writer.start([&block, &pipeline, &blocks, &lastFlags, &write] {
        for (uint32_t k = 0;; ++k) {
            if (!pipeline.waitForBlock(k)) return;
            DecodedColumn &d = blocks[k % BlockPipeline::SLOTS];
            if (d.ranks) ranksToColumn(d);
            const int isLast = lastFlags[k % BlockPipeline::SLOTS];
            // The last block's walk is shared with the symbol decoder's
            // thread, which has nothing left to do but wait.
            invertBlock(block, d.column, d.blockLast, d.primaryIndex, d.counts, isLast ? 2 : 1);
            write(block.blockText.get(), d.blockLast, isLast);
            pipeline.release();
            if (isLast) return;
        }
    });
    if (!started) return false;
    // Block 0 of the pipeline is `first`, decoded already.
    int64_t codedBefore = firstCoded;  // coded bytes of the block before
    for (uint32_t k = 0;; ++k) {
        bool waited = false;
        if (!pipeline.waitForTurn(k, &waited)) break;  // the writing thread failed
        // Ranks leave the move-to-front step to the writing thread, which
        // shortens this thread's work a little where it is the slower one.
        // Where it had to wait for a slot, the writing thread is the slower
        // one: the column then comes out at once, as the step costs this
        // thread almost nothing within the symbol loop. So it does unless
        // the coded bytes left hold about one more block like the one
        // before after this one: for the last block of some size, the
        // writing thread's step (8 ms for a block of 1.3 MB) would only come
        // on top of its inverse, after this thread has finished.
        const int64_t left = decoder_.codedBytesLeft();
        const bool restFollows = left >= 2 * codedBefore;
        const int isLast = k == 0 ? 0
                                  : decodeRanks(decoder_, symbols_, block.capacity, blocks[k % BlockPipeline::SLOTS],
                                                waited || !restFollows);
        if (k > 0) codedBefore = left - decoder_.codedBytesLeft();
        lastFlags[k % BlockPipeline::SLOTS] = isLast;
        pipeline.passTurn(k, isLast != 0);
        pipeline.publish(k);
        if (isLast) break;
    }
    writer.finish();
    return true;
}
