// The production block sort against the literal reference sort: the whole
// sortIndex and the primary index must be identical on every block, above
// all on blocks with equal rotations, where the order among equals (and so
// the primary index) comes out of the literal sort's every step.
//
// The reference scans bytes and is slow on repetitive blocks, so the sizes
// here are those on which it finishes in well under a second or so.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "block_sort.h"
#include "reference_block_sort.h"
#include "sort_test_pictures.h"
#include "test_support.h"

using namespace sortpictures;
using testsupport::blockCapacity;

namespace {

struct SortOutcome {
    std::vector<int32_t> index;
    int32_t primary;
    Bytes column;
};

// Sorts `block` in an encoder block with the production or the reference
// sort. The packed words' memory after the block's bytes starts as garbage,
// as it may after the previous block.
SortOutcome sortOnce(WorkMemory &memory, const Bytes &block, bool reference) {
    const size_t n = block.size();
    EncoderBlock sorted(memory, blockCapacity(n));
    uint8_t *text = sorted.bytes();
    for (size_t i = 0; i < 4 * n; ++i) text[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
    std::copy(block.begin(), block.end(), text);
    sorted.blockLast = static_cast<int32_t>(n) - 1;
    if (reference) {
        referenceSortBlock(sorted, sortSizeClasses(sorted.capacity).bounds);
        takeSortedColumn(sorted);
    } else {
        sortBlock(sorted);
    }
    SortOutcome out{std::vector<int32_t>(sorted.sortIndex.get(), sorted.sortIndex.get() + n), sorted.primaryIndex,
                    Bytes(sorted.lastColumn.get(), sorted.lastColumn.get() + n)};
    EXPECT_EQ(sorted.blockLength, static_cast<int32_t>(n));
    return out;
}

// Smallest period of the block that divides its length (n if none).
size_t rootLength(const Bytes &block) {
    const size_t n = block.size();
    for (size_t p = 1; p < n; ++p) {
        if (n % p != 0) continue;
        bool repeats = true;
        for (size_t i = p; i < n && repeats; ++i) repeats = block[i] == block[i - p];
        if (repeats) return p;
    }
    return n;
}

struct Tally {
    int primitive = 0;
    int periodic = 0;
};

// Both sorts on one block; reports the first row where they differ.
void expectSameOrder(WorkMemory &memory, const Bytes &block, const std::string &what, Tally *tally = nullptr) {
    const size_t period = rootLength(block);
    SCOPED_TRACE(what + ": n = " + std::to_string(block.size()) + ", period " + std::to_string(period));
    const SortOutcome expected = sortOnce(memory, block, true);
    const SortOutcome actual = sortOnce(memory, block, false);
    ASSERT_EQ(actual.index.size(), expected.index.size());
    size_t row = 0;
    while (row < expected.index.size() && actual.index[row] == expected.index[row]) ++row;
    EXPECT_EQ(row, expected.index.size()) << "first different row " << row << ": " << actual.index[row] << " instead of "
                                          << expected.index[row];
    EXPECT_EQ(actual.primary, expected.primary);
    EXPECT_TRUE(actual.column == expected.column);
    if (tally != nullptr) (period < block.size() ? tally->periodic : tally->primitive) += 1;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Pixel data of a BMP file: everything after the two headers.
Bytes pictureData(const Bytes &file) {
    return Bytes(file.begin() + 54, file.end());
}

} // namespace

TEST(BlockSortDifferential, RandomBlocksOnBothSidesOfTheShellSortLimit) {
    WorkMemory memory;
    Tally tally;
    uint32_t seed = 1;
    for (size_t n : {1u, 2u, 3u, 17u, 640u, 1023u, 1024u, 1025u, 1026u, 1031u, 1040u, 4096u, 4097u, 30011u})
        for (uint32_t alphabet : {1u, 2u, 3u, 16u, 256u})
            if (alphabet > 1 || n < 2000)  // one value: the reference compares 16 turns of an odd block
                expectSameOrder(memory, randomBlock(n, seed++, alphabet), "random", &tally);
    // Large enough for several size classes and for a first-pass bucket.
    for (uint32_t alphabet : {2u, 4u, 256u}) expectSameOrder(memory, randomBlock(300000, seed++, alphabet), "random", &tally);
    EXPECT_GT(tally.primitive, 50);
    EXPECT_GT(tally.periodic, 8);  // alphabet 1, and tiny binary blocks
}

TEST(BlockSortDifferential, PreCodedPictures) {
    WorkMemory memory;
    const Bytes marker{0x7F};
    expectSameOrder(memory, concat({precode(pictureData(photoPicture(200, 150, 24, 11))), marker}), "photo 24-bit");
    expectSameOrder(memory, concat({precode(pictureData(photoPicture(160, 120, 32, 12))), marker}), "photo 32-bit");
    expectSameOrder(memory, concat({precode(pictureData(palettePicture(300, 200, 13))), marker}), "palette");
    expectSameOrder(memory, concat({precode(pictureData(screenshotPicture(400, 260, 14))), marker}), "screenshot");
    expectSameOrder(memory, concat({precode(pictureData(flatColourPicture(160, 100, 16, 15))), marker}), "flat 16-bit");
    expectSameOrder(memory, concat({precode(pictureData(flatColourPicture(90, 60, 24, 16))), marker}), "flat 24-bit");
    // A block cut out of a picture, without the marker, as a full block is.
    Bytes photo = precode(pictureData(photoPicture(300, 200, 24, 17)));
    photo.resize(100000);
    expectSameOrder(memory, photo, "photo block");
}

TEST(BlockSortDifferential, RepetitiveBlocksOfSmallPeriods) {
    // The adversarial kinds: one value, two alternating values, a short
    // pattern, one 24-bit colour (with and without the run pre-coding), at
    // lengths that the period divides (equal rotations) on both sides of
    // the shell sort limit.
    WorkMemory memory;
    Tally tally;
    const std::vector<Bytes> roots = {
        {9},                           // one value
        {4, 200},                      // two alternating values
        {1, 2, 3},                     // one 24-bit colour
        {7, 7, 8},                     // a a b
        {5, 5, 5, 5, 252},             // one value, pre-coded runs of 256
        {10, 20, 30, 10, 20, 31},      // two alternating 24-bit colours
        {3, 1, 4, 1},                  // period 4: one walk cycle per residue class
        {0, 1, 0, 1, 1, 0},            // binary, period 6
        {1, 1, 1, 2, 2, 2, 0},         // period 7
        {9, 8, 7, 6, 5, 4, 3, 2},      // period 8
        randomBlock(12, 101, 3),
        randomBlock(16, 102, 2),
        randomBlock(21, 103, 256),
    };
    for (const Bytes &root : roots) {
        const size_t p = root.size();
        for (size_t n : {1020u, 1024u, 1028u, 1100u, 2048u, 6000u}) {
            const size_t length = n / p * p;
            if (length > 1 && rootLength(repeatBlock(root, length)) * 2 <= length)
                expectSameOrder(memory, repeatBlock(root, length), "short pattern", &tally);
        }
    }
    EXPECT_GT(tally.periodic, 70);
}

TEST(BlockSortDifferential, RepetitiveBlocksOfLargePeriods) {
    WorkMemory memory;
    Tally tally;
    // A 1 KB tile, random and from a small alphabet, repeated a few times.
    for (uint32_t alphabet : {4u, 256u})
        for (size_t k : {2u, 3u, 8u}) expectSameOrder(memory, repeatBlock(randomBlock(1024, alphabet, alphabet), 1024 * k), "1 KB tile", &tally);
    // Periods of every residue mod 4 (one, two or four walk cycles), with
    // two and more repetitions.
    for (size_t p : {97u, 98u, 100u, 304u, 513u, 1000u, 2047u, 2050u, 5000u, 20000u, 65537u})
        for (size_t k : {2u, 3u, 5u})
            if (p * k <= 200000) expectSameOrder(memory, repeatBlock(randomBlock(p, static_cast<uint32_t>(p + k), 256), p * k), "random root", &tally);
    // Roots that are themselves repetitive (but primitive).
    Bytes nearRoot = repeatBlock(Bytes{1, 2}, 301);
    nearRoot[150] = 3;
    expectSameOrder(memory, repeatBlock(nearRoot, 301 * 12), "near-periodic root", &tally);
    Bytes flatRoot(700, 6);
    flatRoot[0] = 5;
    expectSameOrder(memory, repeatBlock(flatRoot, 700 * 4), "flat root", &tally);
    EXPECT_EQ(tally.primitive, 0);
}

TEST(BlockSortDifferential, NearlyRepetitivePrimitiveBlocks) {
    // All rotations differ, but two rotations may share a prefix of nearly
    // the whole block.
    WorkMemory memory;
    Tally tally;
    expectSameOrder(memory, repeatBlock(Bytes{1, 2, 3}, 3000 * 3 + 2), "(abc)^k ab", &tally);
    expectSameOrder(memory, repeatBlock(Bytes{1, 2, 3}, 3000 * 3 + 1), "(abc)^k a", &tally);
    Bytes oneChanged(5000, 9);
    oneChanged[2500] = 8;
    expectSameOrder(memory, oneChanged, "one value, one byte changed", &tally);
    Bytes tileChanged = repeatBlock(randomBlock(1024, 31, 256), 1024 * 6);
    tileChanged[3000] ^= 1;
    expectSameOrder(memory, tileChanged, "tile with one byte changed", &tally);
    Bytes oneLonger = concat({repeatBlock(Bytes{4, 200}, 4000), Bytes{4}});
    expectSameOrder(memory, oneLonger, "alternating, odd length", &tally);
    EXPECT_EQ(tally.periodic, 0);
}

TEST(BlockSortDifferential, BucketsAroundTheRankLimitInRepetitiveBlocks) {
    // Roots made of units (9, 9, a), a drawn from {100, 200}, and filler up
    // to a multiple of 8 bytes, repeated k times: bucket (9, 9) holds
    // units x k members and is sorted before every bucket on its members'
    // walks, so its order among equal rotations is its own quicksort's. With
    // 65,534 members it is then ranked; with 65,535 it is sorted in the
    // fourth pass but never ranked, and with 65,536 it is sorted in the first
    // pass. Buckets (9, a) and (a, 9) come after it and walk into it.
    WorkMemory memory;
    struct Case {
        size_t units, repeats, members;
    };
    for (const Case &c : {Case{32767, 2, 65534}, Case{21845, 3, 65535}, Case{32768, 2, 65536}}) {
        const Bytes choice = randomBlock(c.units, static_cast<uint32_t>(c.members), 2);
        Bytes root;
        for (uint8_t a : choice) root.insert(root.end(), {9, 9, static_cast<uint8_t>(a == 0 ? 100 : 200)});
        while (root.size() % 8 != 0) root.push_back(50);
        const Bytes block = repeatBlock(root, root.size() * c.repeats);
        ASSERT_EQ(rootLength(block), root.size());
        size_t pairs = 0;
        for (size_t i = 0; i < block.size(); ++i) pairs += block[i] == 9 && block[(i + 1) % block.size()] == 9;
        ASSERT_EQ(pairs, c.members);
        expectSameOrder(memory, block, "bucket of " + std::to_string(c.members));
    }
}
