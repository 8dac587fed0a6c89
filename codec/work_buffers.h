// Module-wide work buffers of the block stage and the codec's failure exit.
//
// One set of buffers serves every codec object of the loaded library, so only
// one encode or decode runs at a time in a process.
#ifndef VEK_CODEC_WORK_BUFFERS_H
#define VEK_CODEC_WORK_BUFFERS_H

#include <cstddef>
#include <cstdint>

class VekCodec;

struct BlockWorkspace {
    uint32_t *packedBlock;  // encoder: block byte i in bits 24-31 of word i, + 16 copied words
    int32_t *sortIndex;     // encoder: sorted rotations; decoder: occurrence numbers
    int32_t *bucketTable;   // encoder: 65,537 bucket counts, then starts
    uint8_t *blockText;     // decoder: the rebuilt pre-coded block
    uint8_t *lastColumn;    // the last column: decoded (decoder), or left by the sort (encoder)
    bool columnReady;       // encoder: lastColumn holds the sorted block's column
    int32_t blockLast;      // index of the block's last byte
    int32_t blockLength;    // block length (encoder)
    int32_t primaryIndex;   // sorted row of the unrotated block
    // Decoder: the symbol decoder counts the column as it writes it, for the
    // inverse transform.
    int32_t byteCounts[256];  // occurrences of each byte
    int32_t columnChanges;    // indices i > 0 where the byte differs from byte i - 1
};

extern BlockWorkspace workspace;

// Move-to-front list of the symbol coder; entry 0 is the front.
extern uint8_t mtfList[256];

// Last progress percentage posted; outlives encodes.
extern int32_t lastProgress;

const uint32_t BLOCK_UNIT = 8192;
const uint32_t BUCKET_COUNT = 65536;

// Memory for a table of megabytes read at random (huge pages where the
// system has them); freed with std::free. Null if there is none.
void *requestLargeBuffer(size_t bytes);

void allocEncoderWorkspace(VekCodec &codec);
void freeEncoderWorkspace();
void allocDecoderWorkspace(VekCodec &codec, uint32_t blockFactor);
void freeDecoderWorkspace();
void clearWorkspaceReferences();

// Thrown by failureExit; the file operation that was running catches it.
struct VekFailure {};

// The codec's one failure path: releases every allocated work buffer and
// unwinds to the file operation that was running, which closes its files,
// removes an output it created and returns 0. It never ends the process.
[[noreturn]] void failureExit();

#endif
