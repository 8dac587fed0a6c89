// Block sorting transform: sorts the cyclic rotations of a block and finds
// the primary index (encoder), and rebuilds a block from its last column
// (decoder).
//
// Blocks of up to 1024 bytes take a shell sort on bytes. Longer blocks are
// packed four bytes to a word, distributed into 65,536 two-byte buckets and
// sorted bucket by bucket with a quicksort whose comparison takes sixteen
// bytes a step; after a bucket of fewer than 65,535 members is sorted, every
// member's rank is written into the low 16 bits of its word, so later
// comparisons that reach it are decided at once. The order that results
// among equal rotations fixes the primary index, and so the file's bytes:
// every step below is part of the format.
#include <cstring>
#include <utility>

#include "block_sort.h"

#include "vek_codec.h"
#include "work_buffers.h"

namespace {

const int32_t SHELL_SORT_LIMIT = 1024;
const int32_t INSERTION_LIMIT = 10;   // ranges of at most 11 entries
const int32_t QUICKSORT_STACK = 40;
const int32_t RANK_LIMIT = 65535;     // buckets this large get no ranks

// Rotation p greater than rotation q, comparing block bytes one at a time.
bool byteRotationGreater(const uint32_t *packed, int32_t n, int32_t p, int32_t q) {
    for (int32_t k = 0; k < n; ++k) {
        const uint32_t a = packed[p] >> 24;
        const uint32_t b = packed[q] >> 24;
        if (a != b) return a > b;
        if (++p == n) p = 0;
        if (++q == n) q = 0;
    }
    return false;
}

void shellSort(const uint32_t *packed, int32_t *index, int32_t n) {
    for (int32_t i = 0; i < n; ++i) index[i] = i;
    uint32_t h = 1;
    do {
        h = 3 * h + 1;
    } while (h < static_cast<uint32_t>(n));
    do {
        h /= 3;
        if (h <= static_cast<uint32_t>(n - 1)) {
            const int32_t gap = static_cast<int32_t>(h);
            for (int32_t i = gap; i < n; ++i) {
                const int32_t v = index[i];
                int32_t j = i;
                while (j >= gap && byteRotationGreater(packed, n, index[j - gap], v)) {
                    index[j] = index[j - gap];
                    j -= gap;
                }
                index[j] = v;
            }
        }
    } while (h != 1);
}

} // namespace

int VekCodec::compareRotations(int32_t p, int32_t q) {
    const uint32_t *packed = workspace.packedBlock;
    const int32_t n = workspace.blockLength;
    const int32_t start = p;
    for (;;) {
        for (int32_t k = 0; k < 16; k += 4) {
            const uint32_t a = packed[p + k];
            const uint32_t b = packed[q + k];
            if (a != b) return a > b ? 1 : 0;
        }
        p += 16;
        if (p >= n) p -= n;
        q += 16;
        if (q >= n) q -= n;
        if (p == start) return 0;
    }
}

void VekCodec::sortBucketRange(int32_t low, int32_t high) {
    int32_t *index = workspace.sortIndex;
    int32_t stack[2 * QUICKSORT_STACK];
    int32_t depth = 0;
    for (;;) {
        if (high - low <= INSERTION_LIMIT) {
            for (int32_t i = low + 1; i <= high; ++i) {
                const int32_t v = index[i];
                int32_t j = i;
                while (j > low && compareRotations(index[j - 1], v)) {
                    index[j] = index[j - 1];
                    --j;
                }
                index[j] = v;
            }
            if (depth == 0) return;
            depth -= 2;
            low = stack[depth];
            high = stack[depth + 1];
            continue;
        }

        // Median of three, then the pivot goes to high - 1.
        const int32_t mid = low + (high - low) / 2;
        if (compareRotations(index[low], index[mid])) std::swap(index[low], index[mid]);
        if (compareRotations(index[low], index[high])) std::swap(index[low], index[high]);
        if (compareRotations(index[mid], index[high])) std::swap(index[mid], index[high]);
        std::swap(index[mid], index[high - 1]);
        const int32_t pivot = index[high - 1];

        // Entry low and the pivot slot stop the scans; the extra bounds only
        // guard memory and never change the outcome.
        int32_t i = low;
        int32_t j = high - 1;
        for (;;) {
            do {
                ++i;
            } while (i < high - 1 && index[i] != pivot && compareRotations(pivot, index[i]));
            do {
                --j;
            } while (j > low && compareRotations(index[j], pivot));
            if (i >= j) break;
            std::swap(index[i], index[j]);
        }
        std::swap(index[i], index[high - 1]);

        // Go on with the smaller part; the larger one waits on the stack.
        if (i - low > high - i) {
            stack[depth] = low;
            stack[depth + 1] = i - 1;
            low = i + 1;
        } else {
            stack[depth] = i + 1;
            stack[depth + 1] = high;
            high = i - 1;
        }
        depth += 2;
    }
}

void VekCodec::sortBlock() {
    uint32_t *packed = workspace.packedBlock;
    int32_t *index = workspace.sortIndex;
    const int32_t n = workspace.blockLast + 1;
    workspace.blockLength = n;
    if (n <= SHELL_SORT_LIMIT) {
        shellSort(packed, index, n);
        return;
    }

    // Pack four bytes to a word: byte i on top, then bytes i+1, i+2, i+3.
    for (int32_t i = 0; i < n; ++i) {
        const int32_t i1 = i + 1 < n ? i + 1 : i + 1 - n;
        const int32_t i2 = i + 2 < n ? i + 2 : i + 2 - n;
        const int32_t i3 = i + 3 < n ? i + 3 : i + 3 - n;
        packed[i] = (packed[i] & 0xFF000000u) | ((packed[i1] >> 24) << 16) | ((packed[i2] >> 24) << 8) |
                    (packed[i3] >> 24);
    }

    // Counting sort into the two-byte buckets.
    int32_t *bucket = workspace.bucketTable;
    std::memset(bucket, 0, sizeof(int32_t) * (BUCKET_COUNT + 1));
    for (int32_t i = 0; i < n; ++i) ++bucket[packed[i] >> 16];
    for (uint32_t k = 0; k < BUCKET_COUNT; ++k) bucket[k + 1] += bucket[k];
    for (int32_t i = n - 1; i >= 0; --i) index[--bucket[packed[i] >> 16]] = i;

    // Copies after the block end let a comparison step run past it.
    for (int32_t i = 0; i < 16; ++i) packed[n + i] = packed[i];

    // Size-class passes, largest buckets first.
    for (int pair = 4; pair >= 0; --pair) {
        const uint32_t smallest = sortSizeClasses[2 * pair];
        const uint32_t largest = sortSizeClasses[2 * pair + 1];
        if (smallest > static_cast<uint32_t>(n)) continue;
        for (uint32_t k = 0; k < BUCKET_COUNT; ++k) {
            const int32_t first = bucket[k];
            const uint32_t size = static_cast<uint32_t>(bucket[k + 1] - first);
            if (size < smallest || size > largest) continue;
            sortBucketRange(first, first + static_cast<int32_t>(size) - 1);
            if (size < static_cast<uint32_t>(RANK_LIMIT)) {
                for (uint32_t r = 0; r < size; ++r) {
                    const int32_t pos = index[first + static_cast<int32_t>(r)];
                    packed[pos] = (packed[pos] & 0xFFFF0000u) | r;
                    if (pos < 16) packed[n + pos] = packed[pos];
                }
            }
        }
    }
}

void findPrimaryIndex() {
    workspace.primaryIndex = -1;
    for (int32_t r = workspace.blockLast; r >= 0; --r) {
        if (workspace.sortIndex[r] == 0) {
            workspace.primaryIndex = r;
            return;
        }
    }
}

void invertBlock() {
    const int32_t n = workspace.blockLast + 1;
    const uint8_t *column = workspace.lastColumn;
    int32_t *occurrence = workspace.sortIndex;
    uint8_t *text = workspace.blockText;
    int32_t counts[256] = {0};
    for (int32_t i = 0; i < n; ++i) occurrence[i] = counts[column[i]]++;
    int32_t sum = 0;
    for (int c = 0; c < 256; ++c) {
        const int32_t k = counts[c];
        counts[c] = sum;
        sum += k;
    }
    // The symbol decoder guarantees 0 <= primaryIndex < n, and every step
    // lands on counts[c] + occurrence < n, so the walk stays in the block.
    int32_t p = workspace.primaryIndex;
    for (int32_t k = n - 1; k >= 0; --k) {
        const uint8_t c = column[p];
        text[k] = c;
        p = counts[c] + occurrence[p];
    }
}
