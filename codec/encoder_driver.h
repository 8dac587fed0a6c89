// The encoder: the check of a BMP picture's headers, the bound of the coded
// size, and an encoder context that runs the coding stages block by block
// from the picture's data bytes into a .vek stream. Writes the .vek header;
// everything after it comes from the stages.
#ifndef VEK_CODEC_ENCODER_DRIVER_H
#define VEK_CODEC_ENCODER_DRIVER_H

#include <cstdint>

#include "arithmetic_coder.h"
#include "block_sort.h"
#include "byte_streams.h"
#include "run_precoder.h"
#include "symbol_coder.h"
#include "vek_format.h"
#include "work_buffers.h"

// What the header check finds in an accepted picture.
struct AcceptedBitmap {
    VekFileHeader header;  // blockFactor still 0
    int32_t dataSize;      // N
};

// VEK_FAILURE_NONE when the BMP headers are accepted (the source is then at
// the first data byte, *out filled in); otherwise the reason of the refusal.
int checkBitmapHeader(ByteSource &input, AcceptedBitmap *out);

// The largest .vek size the encoder writes for a BMP file of that many
// bytes; 0 when no BMP file of that size is accepted.
uint64_t encodeBound(uint64_t bmpSize);

// The stages of one encode: the run pre-coder, the block sort (its blocks'
// buffers from `memory`), the range encoder and the symbol models. Progress
// goes to `progress`, if set, always from the caller's thread.
class EncoderContext {
public:
    EncoderContext(WorkMemory &memory, ProgressSink *progress) : memory_(memory), progress_(progress) {}
    EncoderContext(const EncoderContext &) = delete;
    EncoderContext &operator=(const EncoderContext &) = delete;

    // Encodes the picture whose headers were accepted, from where the check
    // left `input`, into `output`; blocks of `blockFactor` units (0: chosen
    // from the data size), which it returns. Failures take the failure exit.
    uint32_t encode(const AcceptedBitmap &picture, ByteSource &input, ByteSink &output, uint32_t blockFactor);

private:
    // The blocks of an encode: one after the other in `block`, or filled and
    // sorted in two threads (blocks k + 1 and k + 2), the first one's in
    // `block`, while block k is coded.
    void encodeBlocks(EncoderBlock &block);
    void encodeBlocksInPipeline(EncoderBlock &block);

    RunPrecoder precoder_;
    RangeEncoder encoder_;
    SymbolModels symbols_;
    WorkMemory &memory_;
    ProgressSink *progress_;
};

#endif
