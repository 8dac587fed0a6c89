// The decoder: the check of a .vek stream's 12-byte header, and a decoder
// context that runs the decoding stages block by block into a BMP file or
// into a picture image. Writes the restored BMP headers; the data bytes
// come from the stages.
#ifndef VEK_CODEC_DECODER_DRIVER_H
#define VEK_CODEC_DECODER_DRIVER_H

#include <cstdint>

#include "arithmetic_coder.h"
#include "block_pipeline.h"
#include "block_sort.h"
#include "byte_streams.h"
#include "run_precoder.h"
#include "symbol_coder.h"
#include "vek_format.h"
#include "work_buffers.h"

// Reads and checks the 12-byte header at the start of a .vek stream and
// leaves the source after it: VEK_FAILURE_NONE, or the reason for a stream
// that no encoder writes.
int readStreamHeader(ByteSource &input, VekFileHeader *out);

// The stages of one decode: the range decoder, the symbol models and the
// inverse transform (its blocks' buffers from `memory`), in `threads`
// threads. Unless the setting is fixed, the second thread is only started
// once `readLoad`'s readings show a processor free for it.
class DecoderContext {
public:
    explicit DecoderContext(WorkMemory &memory, ThreadSetting threads = operationThreads(),
                            ProcessorCheck::Reader readLoad = platform::readProcessorLoad)
        : memory_(memory), threads_(threads), readLoad_(readLoad) {}
    DecoderContext(const DecoderContext &) = delete;
    DecoderContext &operator=(const DecoderContext &) = delete;

    // The stream whose header has been read (the source stands after it):
    // into a BMP file on `output`, its headers first; or into `image`.
    // Damaged data and failed writes take the failure exit.
    void decodeToFile(const VekFileHeader &header, ByteSource &input, ByteSink &output);
    void decodeToImage(const VekFileHeader &header, ByteSource &input, ImageOutput &image);

private:
    // The blocks of a decode of `header`'s stream into `block`, each written
    // by `write(text, blockLast, isLast)` once it is inverted: one after the
    // other, or, from the block at which the second thread starts, with
    // block k turned from ranks into bytes, inverted and written in the
    // second thread while the ranks of block k + 1 are decoded into a second
    // column.
    template <typename Write> void decodeBlocks(const VekFileHeader &header, Write write);
    // The blocks from `first` on (decoded from `firstCoded` coded bytes, not
    // yet written, not the last) in two threads; false when no second thread
    // could be had (`first` still to be written).
    template <typename Write>
    bool decodeBlocksInPipeline(DecoderBlock &block, DecodedColumn &first, int64_t firstCoded, Write write);

    RangeDecoder decoder_;
    SymbolModels symbols_;
    WorkMemory &memory_;
    ThreadSetting threads_;
    ProcessorCheck::Reader readLoad_;
};

#endif
