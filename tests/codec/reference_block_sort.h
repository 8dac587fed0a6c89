// The literal block sort, kept as the reference that the production sort
// must match entry for entry: shell sort on bytes up to 1024 bytes; above,
// packed words, two-byte buckets, five size-class passes (largest first), a
// median-of-three quicksort whose comparison takes sixteen bytes a step, and
// ranks written after each bucket of fewer than 65,535 members.
//
// It is exact but slow on periodic and near-periodic blocks, where two
// rotations share long prefixes; the tests feed it only blocks on which it
// finishes quickly.
#ifndef VEK_TESTS_REFERENCE_BLOCK_SORT_H
#define VEK_TESTS_REFERENCE_BLOCK_SORT_H

#include <cstdint>

struct EncoderBlock;

// Sorts the rotations of the encoder block's bytes (blockLast set) into its
// sortIndex and sets blockLength, like the sort of block_sort.h. `sizeClasses` holds the five (smallest, largest)
// pairs of bucket sizes, pair 5 last.
void referenceSortBlock(EncoderBlock &block, const uint32_t sizeClasses[10]);

// Number of rotation comparisons made by the last packed-path reference sort.
uint64_t referenceComparisonCount();

#endif
