// Rotations of a block whose rotations all differ have one order only, so
// any exact rotation sort gives it. Rotated to its least rotation, such a
// block is a Lyndon word (strictly smaller than each of its other
// rotations), and for a Lyndon word the order of its suffixes equals the
// order of its rotations: a suffix sorter then sorts the rotations.
#include "hot_path.h"
#include "rotation_order.h"

#include <algorithm>
#include <cstring>

#include <divsufsort.h>

int32_t smallestPeriod(const uint8_t *text, int32_t n, int32_t *scratch) {
    if (n <= 0) return n;
    // scratch[i]: length of the longest proper border of text[0..i].
    int32_t *border = scratch;
    border[0] = 0;
    int32_t k = 0;
    for (int32_t i = 1; i < n; ++i) {
        while (k > 0 && text[i] != text[k]) k = border[k - 1];
        if (text[i] == text[k]) ++k;
        border[i] = k;
    }
    return n - border[n - 1];
}

namespace {

// Rotations whose first eight bytes are least that are compared in full;
// with more of them the general search runs.
const int32_t FEW_CANDIDATES = 16;

// The first eight bytes at p as a number that orders as they do.
inline uint64_t keyAt(const uint8_t *p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof(word));
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

} // namespace

VEK_HOT_PATH int32_t leastRotation(const uint8_t *doubled, int32_t n, bool *repeats) {
    // Most blocks: the least rotation is among the few whose first eight
    // bytes are least, found in one pass that looks at every rotation's
    // first eight bytes independently of the others, and the few are then
    // compared in full. Two equal rotations both start with the least eight
    // bytes if they are least, and if any two rotations are equal the text
    // repeats, so all least ones are equal to another.
    if (n >= 8) {
        uint64_t least = ~uint64_t(0);
        int32_t candidates[FEW_CANDIDATES];
        int32_t count = 0;  // rotations that start with `least`
        for (int32_t p = 0; p < n; ++p) {
            const uint64_t key = keyAt(doubled + p);
            if (key > least) continue;
            if (key < least) {
                least = key;
                count = 0;
            }
            if (count < FEW_CANDIDATES) candidates[count] = p;
            ++count;
        }
        if (count <= FEW_CANDIDATES) {
            int32_t best = candidates[0];
            bool equal = false;
            for (int32_t c = 1; c < count; ++c) {
                const int order = std::memcmp(doubled + candidates[c], doubled + best, static_cast<size_t>(n));
                if (order < 0) best = candidates[c];
                equal = equal || order == 0;
            }
            *repeats = equal;
            return best;
        }
    }
    // Two candidates i and j and the length k of the common prefix of their
    // rotations; the greater one jumps past the compared stretch, whose
    // starts are each greater than a rotation further on and so never least.
    // Every least rotation stays a candidate: if two rotations are equal the
    // prefix reaches n before either candidate passes the end, and if it
    // does reach n the two candidates are different equal rotations.
    int32_t i = 0, j = 1, k = 0;
    while (i < n && j < n && k < n) {
        const uint8_t a = doubled[i + k];
        const uint8_t b = doubled[j + k];
        if (a == b) {
            ++k;
            // Long equal stretches eight bytes at a time.
            while (k + 8 <= n) {
                uint64_t x, y;
                std::memcpy(&x, doubled + i + k, 8);
                std::memcpy(&y, doubled + j + k, 8);
                if (x != y) break;
                k += 8;
            }
            continue;
        }
        // Which one jumps is data, and so unpredictable: no branch on it.
        const int32_t skip = k + 1;
        const bool iGreater = a > b;
        i += iGreater ? skip : 0;
        j += iGreater ? 0 : skip;
        j += i == j;
        k = 0;
    }
    *repeats = k >= n;
    return std::min(i, j);
}

bool sortPrimitiveRotations(uint8_t *text, int32_t n, int32_t *order) {
    if (n == 1) {
        order[0] = 0;
        return true;
    }
    // The text twice in a row: the order's own array holds the copy while
    // the least rotation is found (n ints hold 2n bytes).
    uint8_t *doubled = reinterpret_cast<uint8_t *>(order);
    std::memcpy(doubled, text, static_cast<size_t>(n));
    std::memcpy(doubled + n, text, static_cast<size_t>(n));
    bool repeats = false;
    const int32_t start = leastRotation(doubled, n, &repeats);
    std::rotate(text, text + start, text + n);
    return sortFromLeastRotation(text, n, start, order, nullptr, nullptr);
}

VEK_HOT_PATH bool sortFromLeastRotation(const uint8_t *rotated, int32_t n, int32_t start, int32_t *order,
                                        const uint8_t *doubled, uint8_t *column) {
    if (divsufsort(rotated, order, n) != 0) return false;
    // Suffix s of the rotated text is rotation (s + start) mod n of the text.
    for (int32_t r = 0; r < n; ++r) {
        int32_t p = order[r] + start;
        if (p >= n) p -= n;
        order[r] = p;
        if (column != nullptr) column[r] = doubled[p + n - 1];  // the byte before rotation p
    }
    return true;
}
