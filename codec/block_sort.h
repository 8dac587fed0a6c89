// Free operations of the block sorting transform on a codec's workspace; the sort itself is VekCodec::sortBlock (it reads the codec's
// size-class table).
#ifndef VEK_CODEC_BLOCK_SORT_H
#define VEK_CODEC_BLOCK_SORT_H

#include <cstddef>

struct BlockWorkspace;

// Sets primaryIndex to the sorted row whose rotation starts at position 0.
void findPrimaryIndex(BlockWorkspace &workspace);

// Rebuilds blockText[0..blockLast] from lastColumn, its byteCounts and
// columnChanges, and primaryIndex, which the caller has checked to lie
// inside the block.
void invertBlock(BlockWorkspace &workspace);

// Bytes of the decoder's last-column buffer for blocks of up to `capacity`
// bytes: the inverse transform uses it as scratch once the column is read.
size_t inverseScratchBytes(size_t capacity);

#endif
