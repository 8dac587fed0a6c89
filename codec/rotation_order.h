// Rotation order of blocks through a suffix sorter: the smallest period of a
// block, its least rotation, and the sorted order of the rotations of a
// block whose rotations all differ.
#ifndef VEK_CODEC_ROTATION_ORDER_H
#define VEK_CODEC_ROTATION_ORDER_H

#include <cstdint>

// Smallest p such that text[i] == text[i + p] for all i + p < n (n when the
// text has no shorter period). `scratch` holds n entries.
int32_t smallestPeriod(const uint8_t *text, int32_t n, int32_t *scratch);

// Start of the least rotation of a text of n bytes, given twice in a row
// (`doubled` holds 2n bytes). `repeats` tells whether two rotations are
// equal, that is whether the text is a repetition u^k (k >= 2) of a shorter
// string; the start returned is then one of the equal least rotations.
int32_t leastRotation(const uint8_t *doubled, int32_t n, bool *repeats);

// Sorts the rotations of a primitive text from its least rotation:
// `rotated` holds the text from `start` on (n bytes, a Lyndon word), whose
// suffixes the suffix sorter orders; order[0..n-1] gets the rotations of the
// text as start positions, smallest first. With `doubled` (the text twice in
// a row), column[r] gets the byte before rotation order[r] in the same pass.
// Returns false if the suffix sorter could not get its memory.
bool sortFromLeastRotation(const uint8_t *rotated, int32_t n, int32_t start, int32_t *order, const uint8_t *doubled,
                           uint8_t *column);

// Sorts the rotations of a primitive text into order[0..n-1] (start
// positions, smallest first). The text is rotated in place to its least
// rotation and left that way; order doubles as the suffix sorter's array.
// Returns false if the suffix sorter could not get its memory.
bool sortPrimitiveRotations(uint8_t *text, int32_t n, int32_t *order);

#endif
