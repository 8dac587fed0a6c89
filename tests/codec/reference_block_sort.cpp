#include "reference_block_sort.h"

#include <cstring>
#include <utility>

#include "block_sort.h"

namespace {

// The block being sorted.
EncoderBlock *active = nullptr;


const int32_t SHELL_SORT_LIMIT = 1024;
const int32_t INSERTION_LIMIT = 10;
const int32_t QUICKSORT_STACK = 40;
const int32_t RANK_LIMIT = 65535;

uint64_t comparisons = 0;

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

// 1 if rotation p is greater than rotation q, 0 if smaller or found equal
// after the walk returns to its start.
int compareRotations(int32_t p, int32_t q) {
    ++comparisons;
    const uint32_t *packed = active->packedBlock.get();
    const int32_t n = active->blockLength;
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

void sortBucketRange(int32_t low, int32_t high) {
    int32_t *index = active->sortIndex.get();
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
        const int32_t mid = low + (high - low) / 2;
        if (compareRotations(index[low], index[mid])) std::swap(index[low], index[mid]);
        if (compareRotations(index[low], index[high])) std::swap(index[low], index[high]);
        if (compareRotations(index[mid], index[high])) std::swap(index[mid], index[high]);
        std::swap(index[mid], index[high - 1]);
        const int32_t pivot = index[high - 1];
        int32_t i = low;
        int32_t j = high - 1;
        for (;;) {
            do {
                ++i;
            } while (index[i] != pivot && compareRotations(pivot, index[i]));
            do {
                --j;
            } while (compareRotations(index[j], pivot));
            if (i >= j) break;
            std::swap(index[i], index[j]);
        }
        std::swap(index[i], index[high - 1]);
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

} // namespace

uint64_t referenceComparisonCount() {
    return comparisons;
}

void referenceSortBlock(EncoderBlock &block, const uint32_t sizeClasses[10]) {
    active = &block;
    comparisons = 0;
    uint32_t *packed = active->packedBlock.get();
    int32_t *index = active->sortIndex.get();
    const int32_t n = active->blockLast + 1;
    active->blockLength = n;
    // The block's bytes, one a byte, into the words.
    const uint8_t *text = active->bytes();
    for (int32_t i = n - 1; i >= 0; --i) packed[i] = static_cast<uint32_t>(text[i]) << 24;
    if (n <= SHELL_SORT_LIMIT) {
        shellSort(packed, index, n);
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        const int32_t i1 = i + 1 < n ? i + 1 : i + 1 - n;
        const int32_t i2 = i + 2 < n ? i + 2 : i + 2 - n;
        const int32_t i3 = i + 3 < n ? i + 3 : i + 3 - n;
        packed[i] = (packed[i] & 0xFF000000u) | ((packed[i1] >> 24) << 16) | ((packed[i2] >> 24) << 8) |
                    (packed[i3] >> 24);
    }
    int32_t *bucket = active->bucketTable.get();
    std::memset(bucket, 0, sizeof(int32_t) * (BUCKET_COUNT + 1));
    for (int32_t i = 0; i < n; ++i) ++bucket[packed[i] >> 16];
    for (uint32_t k = 0; k < BUCKET_COUNT; ++k) bucket[k + 1] += bucket[k];
    for (int32_t i = n - 1; i >= 0; --i) index[--bucket[packed[i] >> 16]] = i;
    for (int32_t i = 0; i < 16; ++i) packed[n + i] = packed[i];
    for (int pair = 4; pair >= 0; --pair) {
        const uint32_t smallest = sizeClasses[2 * pair];
        const uint32_t largest = sizeClasses[2 * pair + 1];
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
