// The block sort against a plain sort of rotations, and the inverse
// transform, on blocks that reach the sort's different paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>

#include "block_sort.h"
#include "rotation_order.h"
#include "test_support.h"

using namespace testsupport;

namespace {

struct Sorted {
    std::vector<int32_t> index;
    int32_t primary;
    Bytes column;
};

// Sorts the rotations of `block` with the codec's sort; the column is the
// one the sort gives.
Sorted codecSort(WorkMemory &memory, const Bytes &block) {
    EncoderBlock sorted(memory, blockCapacity(block.size()));
    // Garbage after the block's bytes must not matter.
    uint8_t *text = sorted.bytes();
    std::memset(text, 0xA5, 4 * block.size());
    std::copy(block.begin(), block.end(), text);
    sorted.blockLast = static_cast<int32_t>(block.size()) - 1;
    sortBlock(sorted);
    Sorted s;
    s.index.assign(sorted.sortIndex.get(), sorted.sortIndex.get() + block.size());
    s.primary = sorted.primaryIndex;
    s.column.assign(sorted.lastColumn.get(), sorted.lastColumn.get() + block.size());
    Bytes fromIndex;
    for (int32_t p : s.index) fromIndex.push_back(block[(p + block.size() - 1) % block.size()]);
    EXPECT_TRUE(s.column == fromIndex) << "the column is the one of the sorted rotations";
    return s;
}

// -1, 0 or 1 as rotation p is smaller than, equal to or greater than q.
int compareNaive(const Bytes &b, size_t p, size_t q) {
    const size_t n = b.size();
    for (size_t k = 0; k < n; ++k) {
        const uint8_t x = b[(p + k) % n], y = b[(q + k) % n];
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

// The order of rotations by a plain comparison; `distinct` tells whether
// all rotations differ (then the order is unique).
std::vector<int32_t> naiveOrder(const Bytes &b, bool *distinct) {
    std::vector<int32_t> order(b.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int32_t p, int32_t q) { return compareNaive(b, p, q) < 0; });
    *distinct = true;
    for (size_t i = 1; i < order.size(); ++i)
        if (compareNaive(b, order[i - 1], order[i]) == 0) *distinct = false;
    return order;
}

Bytes invert(WorkMemory &memory, const Bytes &column, int32_t primary, int walkers = 1) {
    DecoderBlock block(memory, blockCapacity(column.size()));
    std::copy(column.begin(), column.end(), block.lastColumn.get());
    const ColumnCounts counts = countColumn(column);
    InverseCounts inverse;
    std::copy(counts.bytes, counts.bytes + 256, inverse.bytes);
    inverse.changes = counts.changes;
    invertBlock(block, block.lastColumn.get(), static_cast<int32_t>(column.size()) - 1, primary, inverse, walkers);
    return Bytes(block.blockText.get(), block.blockText.get() + column.size());
}

// Sorts, compares with the plain order where it is unique (or checks that
// the order is sorted where it is not), and inverts.
void checkBlock(WorkMemory &memory, const Bytes &block, const std::string &what) {
    SCOPED_TRACE(what + ", n = " + std::to_string(block.size()));
    const Sorted s = codecSort(memory, block);
    bool distinct = false;
    const std::vector<int32_t> expected = naiveOrder(block, &distinct);
    if (distinct) {
        EXPECT_EQ(s.index, expected);
    } else {
        std::vector<int32_t> perm = s.index;
        std::sort(perm.begin(), perm.end());
        for (size_t i = 0; i < perm.size(); ++i) ASSERT_EQ(perm[i], static_cast<int32_t>(i));
        for (size_t i = 1; i < s.index.size(); ++i) ASSERT_LE(compareNaive(block, s.index[i - 1], s.index[i]), 0);
    }
    ASSERT_GE(s.primary, 0);
    EXPECT_EQ(s.index[s.primary], 0);
    EXPECT_EQ(invert(memory, s.column, s.primary), block);
}

Bytes repeated(const Bytes &pattern, size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = pattern[i % pattern.size()];
    return b;
}

} // namespace

TEST(RotationOrder, LeastRotationTellsRepetitions) {
    // Every binary text up to 14 bytes and random texts of small alphabets:
    // the search reports a repetition exactly when the smallest period
    // divides the length, and returns a least rotation.
    auto check = [](const Bytes &text) {
        const int32_t n = static_cast<int32_t>(text.size());
        Bytes doubled(text);
        doubled.insert(doubled.end(), text.begin(), text.end());
        std::vector<int32_t> scratch(text.size());
        const int32_t p = smallestPeriod(text.data(), n, scratch.data());
        bool repeats = true;
        const int32_t start = leastRotation(doubled.data(), n, &repeats);
        ASSERT_EQ(repeats, p < n && n % p == 0) << n;
        for (int32_t r = 0; r < n; ++r)
            ASSERT_LE(Bytes(doubled.begin() + start, doubled.begin() + start + n),
                      Bytes(doubled.begin() + r, doubled.begin() + r + n));
    };
    for (int32_t n = 1; n <= 14; ++n)
        for (uint32_t bits = 0; bits < (1u << n); ++bits) {
            Bytes text(static_cast<size_t>(n));
            for (int32_t i = 0; i < n; ++i) text[i] = static_cast<uint8_t>((bits >> i) & 1);
            check(text);
        }
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        const Bytes root = randomBytes(1 + seed % 40, seed, 2 + seed % 3);
        Bytes text;
        for (uint32_t k = 0; k < 1 + seed % 5; ++k) text.insert(text.end(), root.begin(), root.end());
        if (seed % 3 == 0) text.push_back(root[0]);  // one byte more: no repetition of the root
        check(text);
    }
    // Many rotations that share the least first eight bytes (nine zeros
    // before each marker: two such rotations per marker), around the number
    // that the search compares in full.
    for (int32_t markers : {1, 7, 8, 9, 30}) {
        Bytes text;
        for (int32_t k = markers; k >= 1; --k) {
            text.insert(text.end(), 9, 0);
            text.push_back(static_cast<uint8_t>(k));
        }
        check(text);
        check(repeated(text, text.size() * 3));
    }
}

TEST(BlockSort, SmallBlocksTakeTheShellSort) {
    WorkMemory memory;
    const Sorted one = codecSort(memory, Bytes{0x7F});
    EXPECT_EQ(one.index, std::vector<int32_t>{0});
    EXPECT_EQ(one.primary, 0);
    EXPECT_EQ(one.column, Bytes{0x7F});
    for (size_t n : {2, 3, 5, 16, 17, 100, 364, 1023, 1024})
        for (uint32_t alphabet : {2u, 3u, 256u}) checkBlock(memory, randomBytes(n, n + alphabet, alphabet), "random");
    checkBlock(memory, repeated(Bytes{1, 2, 3}, 900), "pattern of three");
    checkBlock(memory, repeated(Bytes{7}, 1024), "one value");
}

TEST(BlockSort, PackedBlocksOfManyKinds) {
    WorkMemory memory;
    for (size_t n : {1025, 1026, 1040, 4099, 70001})
        for (uint32_t alphabet : {2u, 5u, 256u}) checkBlock(memory, randomBytes(n, n * alphabet, alphabet), "random");
    checkBlock(memory, smoothPixels(300, 100, 24, 5), "photo-like rows");
    Bytes nearly = repeated(Bytes{3, 1, 4}, 3000);
    nearly.resize(2999);  // length not a multiple of the period: all rotations distinct
    checkBlock(memory, nearly, "pattern cut short");
    Bytes oneChanged(3000, 9);
    oneChanged[1500] = 8;
    checkBlock(memory, oneChanged, "one value with one byte changed");
    checkBlock(memory, repeated(Bytes{1, 2, 3}, 3000), "pattern of three");
    checkBlock(memory, repeated(randomBytes(97, 4), 97 * 40), "random tile");
    // Tiles in blocks long enough for the chained inverse: a short cycle
    // through the primary row, and one too long to be tried as short.
    checkBlock(memory, repeated(randomBytes(97, 5), 97 * 100), "random tile, chained inverse");
    checkBlock(memory, repeated(randomBytes(5000, 6), 5000 * 3), "long random tile, chained inverse");
}

TEST(BlockSort, HugeBucketIsSortedInTheFirstPass) {
    // Random bytes from {0, 1}: the pair (0, 1) starts about n / 4 rotations,
    // more than 65,536, so that bucket falls into the largest size class.
    WorkMemory memory;
    const Bytes block = randomBytes(300000, 11, 2);
    size_t pairs = 0;
    for (size_t i = 0; i < block.size(); ++i) pairs += block[i] == 0 && block[(i + 1) % block.size()] == 1;
    ASSERT_GT(pairs, 65536u);
    checkBlock(memory, block, "binary");
}

TEST(BlockSort, BucketsAroundTheRankLimit) {
    // Buckets of 65,534 (ranked) and 65,535 (not ranked) members of pair
    // (0, 0), in blocks whose rotations all differ.
    WorkMemory memory;
    for (size_t target : {65534u, 65535u}) {
        Bytes block = randomBytes(300000, static_cast<uint32_t>(target), 2);
        for (size_t i = 0; i < block.size(); ++i)
            if (block[i] != 0) block[i] = static_cast<uint8_t>(1 + (i * 31) % 250);
        auto count = [&] {
            size_t c = 0;
            for (size_t i = 0; i < block.size(); ++i) c += block[i] == 0 && block[(i + 1) % block.size()] == 0;
            return c;
        };
        size_t c = count();
        ASSERT_GT(c, target);
        // Break (0, 0) pairs one at a time until the bucket has the size.
        for (size_t i = 0; c > target && i + 2 < block.size(); ++i) {
            if (block[i] == 0 && block[i + 1] == 0 && block[i + 2] != 0 && (i == 0 || block[i - 1] != 0)) {
                block[i + 1] = 200;
                --c;
            }
        }
        ASSERT_EQ(count(), target);
        checkBlock(memory, block, "bucket of " + std::to_string(target));
    }
}

TEST(BlockSort, InverseOfDamagedColumnStaysInsideTheBlock) {
    // Any column with a primary index inside the block inverts without
    // leaving the buffers, whatever it holds.
    WorkMemory memory;
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const Bytes column = randomBytes(100 + seed * 13, seed, 1 + seed % 7);
        const Bytes text = invert(memory, column, static_cast<int32_t>(seed * 5 % column.size()));
        EXPECT_EQ(text.size(), column.size());
    }
}

namespace {

// The inverse transform by its definition: one walk of n steps from the
// primary row, each step to row (column bytes smaller than c) + (earlier
// occurrences of c), writing the block from its end backwards.
Bytes walkInverse(const Bytes &column, uint32_t primary) {
    const size_t n = column.size();
    std::vector<uint32_t> next(n);
    size_t counts[256] = {0};
    for (uint8_t c : column) ++counts[c];
    size_t sum = 0;
    for (size_t &k : counts) {
        const size_t here = k;
        k = sum;
        sum += here;
    }
    for (size_t i = 0; i < n; ++i) next[i] = static_cast<uint32_t>(counts[column[i]]++);
    Bytes text(n);
    uint32_t p = primary;
    for (size_t k = n; k-- > 0;) {
        text[k] = column[p];
        p = next[p];
    }
    return text;
}

} // namespace

TEST(BlockSort, InverseMatchesOneWalkForEveryColumn) {
    // The inverse walks many chains at once and pieces their bytes together;
    // for any column and primary row it must give what one walk gives, also
    // where the primary row lies on a cycle shorter than the block (then the
    // walk goes round it again) and where other cycles hold no chain start.
    WorkMemory memory;
    uint32_t seed = 1;
    for (size_t n : {size_t(8191), size_t(8192), size_t(8193), size_t(40000), size_t(70001), size_t(300000)}) {
        for (uint32_t alphabet : {1u, 2u, 3u, 256u}) {
            const Bytes column = randomBytes(n, ++seed, alphabet);
            for (uint32_t primary : {uint32_t(0), uint32_t(512), uint32_t(4096), uint32_t(n / 3), uint32_t(n - 1)}) {
                SCOPED_TRACE("n = " + std::to_string(n) + ", alphabet " + std::to_string(alphabet) + ", primary " +
                             std::to_string(primary));
                const Bytes expected = walkInverse(column, primary);
                ASSERT_EQ(invert(memory, column, static_cast<int32_t>(primary)), expected);
                // Large blocks: the same with the walk shared by two threads.
                if (n >= 300000) {
                    ASSERT_EQ(invert(memory, column, static_cast<int32_t>(primary), 2), expected);
                }
            }
        }
    }
    // Columns of repetitive blocks: long runs, and a period that splits the
    // rows into many short cycles.
    for (size_t n : {size_t(9000), size_t(300000)}) {
        Bytes runs(n);
        for (size_t i = 0; i < n; ++i) runs[i] = static_cast<uint8_t>(i * 5 / n);
        Bytes periodic(n);
        for (size_t i = 0; i < n; ++i) periodic[i] = static_cast<uint8_t>((i * 7) % 10);
        for (const Bytes *column : {&runs, &periodic})
            for (uint32_t primary : {uint32_t(1), uint32_t(n / 2), uint32_t(n - 4096)})
                for (int walkers : {1, 2})
                    ASSERT_EQ(invert(memory, *column, static_cast<int32_t>(primary), walkers),
                              walkInverse(*column, primary));
    }
    // Real blocks, sorted and inverted.
    for (size_t n : {size_t(20000), size_t(150000)}) {
        Bytes block = randomBytes(n, ++seed, 4);
        const Sorted s = codecSort(memory, block);
        EXPECT_EQ(invert(memory, s.column, s.primary), block);
        EXPECT_EQ(walkInverse(s.column, static_cast<uint32_t>(s.primary)), block);
    }
}
