// Decoder drivers: a .vek file back into a BMP file, or into the picture
// image that the codec object keeps in memory.
#include <cstdlib>
#include <cstring>

#include "block_pipeline.h"
#include "block_sort.h"
#include "symbol_coder.h"
#include "vek_codec.h"
#include "work_buffers.h"

int VekCodec::readStreamHeader(ByteSource &input, VekFileHeader *out) {
    uint8_t bytes[VEK_HEADER_SIZE];
    size_t got = 0;
    if (!input.read(bytes, sizeof(bytes), &got)) return refuse(VEK_FAILURE_READ);
    // A file that starts with the magic but ends within the header was cut
    // short; anything else that short is some other file.
    const bool magic = got >= sizeof(VEK_MAGIC) && std::memcmp(bytes, VEK_MAGIC, sizeof(VEK_MAGIC)) == 0;
    if (!magic) return refuse(VEK_FAILURE_NOT_VEK);
    if (got != sizeof(bytes)) return refuse(VEK_FAILURE_DAMAGED_VEK);
    const VekFileHeader h = unpackVekHeader(bytes);
    if (h.blockFactor == 0) return refuse(VEK_FAILURE_NOT_VEK);
    // No encoder writes a data size beyond 2^31 - 1, and the image length
    // (an int) could not report one: a tiny file could otherwise make
    // loadFile succeed with a negative length.
    if (dataSizeOf(h) > static_cast<uint64_t>(INT32_MAX)) return refuse(VEK_FAILURE_NOT_VEK);
    *out = h;
    return 1;
}

namespace {

// Readies the coder's reader on the source, which stands after the header,
// and returns how many data bytes the stream must restore.
uint32_t startDecode(VekCodec &codec, const VekFileHeader &header, ByteSource &input) {
    codec.header = header;
    codec.decoder.start(input, input.size() - static_cast<int64_t>(VEK_HEADER_SIZE));
    return static_cast<uint32_t>(dataSizeOf(header));
}

// Decodes the next block's column and counts into the workspace.
int decodeIntoWorkspace(VekCodec &codec) {
    BlockWorkspace &workspace = codec.workspace;
    DecodedColumn decoded;
    decoded.column = workspace.lastColumn;
    const int isLast = decodeColumn(codec.decoder, codec.symbols, workspace.capacity, decoded);
    workspace.blockLast = decoded.blockLast;
    workspace.primaryIndex = decoded.primaryIndex;
    std::memcpy(workspace.byteCounts, decoded.byteCounts, sizeof(decoded.byteCounts));
    workspace.columnChanges = decoded.columnChanges;
    return isLast;
}

} // namespace

int VekCodec::decodeStream(const VekFileHeader &streamHeader, ByteSource &input, ByteSink &output) {
    const uint32_t expected = startDecode(*this, streamHeader, input);
    // The BMP headers follow from the .vek header: they go out first.
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    restoredBitmapHeaders(header, &file, &info);
    uint8_t headerBytes[BMP_HEADERS_SIZE];
    packBitmapHeaders(file, info, headerBytes);
    if (!output.write(headerBytes, BMP_HEADERS_SIZE)) failureExit(VEK_FAILURE_WRITE);
    BlockFactor = header.blockFactor;
    allocInverseBuffers(workspace, size_t(BlockFactor) * BLOCK_UNIT);
    decoder.startCoder();
    FileOutput out(output, expected);
    decodeBlocks(expected, [&](int isLast) { expandBlock(workspace, isLast, out); });
    // A restored file holds exactly the data bytes its header announces.
    if (out.delivered() != expected) failureExit(VEK_FAILURE_DAMAGED_VEK);
    freeInverseBuffers(workspace);
    fileHeader = file;
    infoHeader = info;
    return 1;
}

int VekCodec::decodeToMemory(const VekFileHeader &streamHeader, ByteSource &input) {
    const uint32_t expected = startDecode(*this, streamHeader, input);
    ImageOutput out{image, imageLength, imageCapacity, expected, workspace};
    out.start();
    BlockFactor = header.blockFactor;
    allocInverseBuffers(workspace, size_t(BlockFactor) * BLOCK_UNIT);
    decoder.startCoder();
    decodeBlocks(expected, [&](int isLast) { expandBlock(workspace, isLast, out); });
    if (imageLength != expected) failureExit(VEK_FAILURE_DAMAGED_VEK);
    freeInverseBuffers(workspace);
    restoredBitmapHeaders(header, &fileHeader, &infoHeader);
    imagePaletteSize = header.paletteSize;
    return 1;
}

template <typename Write> void VekCodec::decodeBlocks(uint32_t expected, Write write) {
    // A second thread pays off from two blocks on.
    if (operationThreads() >= 2 && expected >= BlockFactor * BLOCK_UNIT) {
        WorkspaceBuffer<uint8_t> secondColumn = workspace.take<uint8_t>(inverseScratchBytes(BlockFactor * BLOCK_UNIT));
        if (decodeBlocksInPipeline(secondColumn.get(), write)) return;
    }
    int isLast;
    do {
        isLast = decodeIntoWorkspace(*this);
        invertBlock(workspace);
        write(isLast);
    } while (!isLast);
}

template <typename Write> bool VekCodec::decodeBlocksInPipeline(uint8_t *secondColumn, Write write) {
    DecodedColumn blocks[BlockPipeline::SLOTS];
    int lastFlags[BlockPipeline::SLOTS] = {0, 0};
    blocks[0].column = workspace.lastColumn;
    blocks[1].column = secondColumn;
    // However this ends, the work buffers get their own column back (the
    // guard outlives the second thread).
    struct Restore {
        BlockWorkspace &workspace;
        uint8_t *column;
        ~Restore() { workspace.lastColumn = column; }
    } restore{workspace, workspace.lastColumn};

    BlockPipeline pipeline;
    StageThread writer(pipeline);
    const bool started = writer.start([this, &pipeline, &blocks, &lastFlags, &write] {
        for (uint32_t k = 0;; ++k) {
            if (!pipeline.waitForBlock(k)) return;
            DecodedColumn &d = blocks[k % BlockPipeline::SLOTS];
            if (d.ranks) ranksToColumn(d);
            workspace.lastColumn = d.column;
            workspace.blockLast = d.blockLast;
            workspace.primaryIndex = d.primaryIndex;
            std::memcpy(workspace.byteCounts, d.byteCounts, sizeof(d.byteCounts));
            workspace.columnChanges = d.columnChanges;
            const int isLast = lastFlags[k % BlockPipeline::SLOTS];
            invertBlock(workspace);
            write(isLast);
            pipeline.release();
            if (isLast) return;
        }
    });
    if (!started) return false;
    for (uint32_t k = 0;; ++k) {
        bool waited = false;
        if (!pipeline.waitForTurn(k, &waited)) break;  // the writing thread failed
        // Ranks leave the move-to-front step to the writing thread, which
        // shortens this thread's work a little where it is the slower one.
        // Where it had to wait for a slot, the writing thread is the slower
        // one: the column then comes out at once, as the step costs this
        // thread almost nothing within the symbol loop.
        const int isLast = decodeRanks(decoder, symbols, workspace.capacity, blocks[k % BlockPipeline::SLOTS], waited);
        lastFlags[k % BlockPipeline::SLOTS] = isLast;
        pipeline.passTurn(k, isLast != 0);
        pipeline.publish(k);
        if (isLast) break;
    }
    writer.finish();
    return true;
}
