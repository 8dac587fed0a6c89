// The block sorting transform as a stage over a set of work buffers: their
// layout (sized from a block capacity), the sort that gives a block's last
// column and primary index (encoder), and the inverse that rebuilds a block
// from them (decoder). It knows nothing of the codec object.
#ifndef VEK_CODEC_BLOCK_SORT_H
#define VEK_CODEC_BLOCK_SORT_H

#include <cstddef>
#include <cstdint>

#include "work_buffers.h"

// The encoder's buffers for blocks of up to `capacity` bytes: the packed
// block (which fillBlock fills one byte a byte), the sorted rotations, the
// bucket table and the last column. Out of memory takes the failure exit.
void allocSortBuffers(BlockWorkspace &workspace, size_t capacity);
void freeSortBuffers(BlockWorkspace &workspace);

// The decoder's: the last column (also the inverse's scratch), the
// occurrence numbers and the rebuilt block.
void allocInverseBuffers(BlockWorkspace &workspace, size_t capacity);
void freeInverseBuffers(BlockWorkspace &workspace);

// Bytes of the decoder's last-column buffer for blocks of up to `capacity`
// bytes: the inverse transform uses it as scratch once the column is read.
size_t inverseScratchBytes(size_t capacity);

// The five (smallest, largest) bucket size pairs of the sort's passes, the
// largest pair last, for blocks of up to `capacity` bytes.
struct SortSizeClasses {
    uint32_t bounds[10];
};
SortSizeClasses sortSizeClasses(size_t capacity);

// Sorts the rotations of the block in packedBlock (blockLast set) into
// sortIndex and leaves the block's last column in lastColumn and its
// primary index (the sorted row of the unrotated block) in primaryIndex.
void sortBlock(BlockWorkspace &workspace);

// The last column and the primary index of the block from sortIndex as some
// other sort left it (blockLength set, packedBlock as words).
void takeSortedColumn(BlockWorkspace &workspace);

// What the inverse needs to know of a block's last column besides its bytes:
// how often each byte occurs, and at how many indices i > 0 the byte
// differs from byte i - 1.
struct InverseCounts {
    int32_t bytes[256];
    int32_t changes;
};

// Rebuilds blockText[0..blockLast] from lastColumn, its counts and
// primaryIndex, which the caller has checked to lie inside the block. With
// `walkers` 2, a large block's walk is shared with a second thread (for the
// last block of a decode, when the caller's other thread has nothing left
// to do); if none can be had, this thread walks alone.
void invertBlock(BlockWorkspace &workspace, const InverseCounts &columnCounts, int walkers = 1);

#endif
