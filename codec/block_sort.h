// Free operations of the block sorting transform on the module-wide
// workspace; the sort itself is VekCodec::sortBlock (it reads the codec's
// size-class table).
#ifndef VEK_CODEC_BLOCK_SORT_H
#define VEK_CODEC_BLOCK_SORT_H

// Sets primaryIndex to the sorted row whose rotation starts at position 0.
void findPrimaryIndex();

// Rebuilds blockText[0..blockLast] from lastColumn and primaryIndex, which
// the caller has checked to lie inside the block.
void invertBlock();

#endif
