// Rotations of a block whose rotations all differ have one order only, so
// any exact rotation sort gives it. Rotated to its least rotation, such a
// block is a Lyndon word (strictly smaller than each of its other
// rotations), and for a Lyndon word the order of its suffixes equals the
// order of its rotations: a suffix sorter then sorts the rotations.
#include "rotation_order.h"

#include <algorithm>

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

bool isPrimitive(const uint8_t *text, int32_t n, int32_t *scratch, int32_t *period) {
    const int32_t p = smallestPeriod(text, n, scratch);
    *period = p;
    return p == n || n % p != 0;
}

int32_t leastRotation(const uint8_t *text, int32_t n) {
    // Two candidates i < j (or j < i) and the length k of their common
    // prefix; the greater candidate jumps past the compared stretch, which
    // cannot hold the least rotation.
    int32_t i = 0, j = 1, k = 0;
    while (i < n && j < n && k < n) {
        int32_t a = i + k, b = j + k;
        if (a >= n) a -= n;
        if (b >= n) b -= n;
        if (text[a] == text[b]) {
            ++k;
            continue;
        }
        if (text[a] > text[b])
            i += k + 1;
        else
            j += k + 1;
        if (i == j) ++j;
        k = 0;
    }
    return std::min(i, j);
}

bool sortPrimitiveRotations(uint8_t *text, int32_t n, int32_t *order) {
    if (n == 1) {
        order[0] = 0;
        return true;
    }
    const int32_t start = leastRotation(text, n);
    std::rotate(text, text + start, text + n);
    if (divsufsort(text, order, n) != 0) return false;
    // Suffix s of the rotated text is rotation (s + start) mod n of the block.
    for (int32_t r = 0; r < n; ++r) {
        int32_t p = order[r] + start;
        if (p >= n) p -= n;
        order[r] = p;
    }
    return true;
}
