// The block sorting transform as a stage over blocks of its own: the
// encoder's block (the packed block and the sort's tables, sized from a
// block capacity), the sort that gives a block's last column and primary
// index, the decoder's block and the inverse that rebuilds a block from its
// last column. Their memory comes from a WorkMemory; they know nothing of
// the codec object.
#ifndef VEK_CODEC_BLOCK_SORT_H
#define VEK_CODEC_BLOCK_SORT_H

#include <cstddef>
#include <cstdint>

#include "work_buffers.h"

const uint32_t BUCKET_COUNT = 65536;
// Words of the packed block past its last byte's word, which the sort may
// read.
const uint32_t PACKED_BLOCK_SLACK = 16;

// One block of the encoder, of up to `capacity` bytes, and what the sort
// makes of it. Its buffers are obtained by the constructor (out of memory
// takes the failure exit) and released by the destructor.
struct EncoderBlock {
    EncoderBlock(WorkMemory &memory, size_t capacity);
    EncoderBlock(const EncoderBlock &) = delete;
    EncoderBlock &operator=(const EncoderBlock &) = delete;

    // The block's bytes, one a byte, as the run pre-coder writes them: the
    // packed words' memory, which the sort turns into words (byte i in bits
    // 24-31 of word i) where it compares words. Bytes are all the sort of
    // most blocks needs, and a quarter of the memory to write.
    uint8_t *bytes() { return reinterpret_cast<uint8_t *>(packedBlock.get()); }

    WorkMemory &memory;  // also of the sort's passing tables
    const size_t capacity;
    WorkBuffer<uint32_t> packedBlock;  // room for capacity + PACKED_BLOCK_SLACK words
    WorkBuffer<int32_t> sortIndex;     // the sorted rotations (start positions)
    WorkBuffer<int32_t> bucketTable;   // BUCKET_COUNT + 1 bucket counts, then starts
    WorkBuffer<uint8_t> lastColumn;    // the sorted block's last column
    // While a repetitive block is sorted: the ranks its comparison reads
    // (block_sort.cpp).
    uint16_t *rotationRanks = nullptr;
    bool columnReady = false;  // lastColumn already holds the column
    int32_t blockLast = 0;     // index of the block's last byte
    int32_t blockLength = 0;   // blockLast + 1, once sorted
    int32_t primaryIndex = 0;  // sorted row of the unrotated block
};

// The five (smallest, largest) bucket size pairs of the sort's passes, the
// largest pair last, for blocks of up to `capacity` bytes.
struct SortSizeClasses {
    uint32_t bounds[10];
};
SortSizeClasses sortSizeClasses(size_t capacity);

// Sorts the rotations of the block in its bytes (blockLast set) into
// sortIndex and leaves the block's last column in lastColumn and its
// primary index (the sorted row of the unrotated block) in primaryIndex.
void sortBlock(EncoderBlock &block);

// The last column and the primary index of the block from sortIndex as some
// other sort left it (blockLength set, packedBlock as words).
void takeSortedColumn(EncoderBlock &block);

// One block of the decoder, of up to `capacity` bytes: the rebuilt block,
// the inverse's step table and a last column, which the inverse also uses
// as scratch. Buffers as for EncoderBlock.
struct DecoderBlock {
    DecoderBlock(WorkMemory &memory, size_t capacity);
    DecoderBlock(const DecoderBlock &) = delete;
    DecoderBlock &operator=(const DecoderBlock &) = delete;

    WorkMemory &memory;  // also of the inverse's chain tables
    const size_t capacity;
    WorkBuffer<uint8_t> blockText;   // the rebuilt pre-coded block
    WorkBuffer<uint8_t> lastColumn;  // inverseScratchBytes(capacity) bytes
    WorkBuffer<int32_t> sortIndex;   // the occurrence numbers (step table)
};

// Bytes of a last-column buffer for blocks of up to `capacity` bytes: the
// inverse transform uses it as scratch once the column is read.
size_t inverseScratchBytes(size_t capacity);

// What the inverse needs to know of a block's last column besides its bytes:
// how often each byte occurs, and at how many indices i > 0 the byte
// differs from byte i - 1.
struct InverseCounts {
    int32_t bytes[256];
    int32_t changes;
};

// Rebuilds block.blockText[0..blockLast] from `column` (blockLast + 1 bytes
// in a buffer of inverseScratchBytes(block.capacity), left as scratch), its
// counts and the primary index, which the caller has checked to lie inside
// the block. With `walkers` 2, a large block's walk is shared with a second
// thread (for the last block of a decode, when the caller's other thread has
// nothing left to do); if none can be had, this thread walks alone.
void invertBlock(DecoderBlock &block, uint8_t *column, int32_t blockLast, int32_t primaryIndex,
                 const InverseCounts &columnCounts, int walkers = 1);

#endif
