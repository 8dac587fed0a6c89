// Block sorting transform: sorts the cyclic rotations of a block and gives
// its last column and primary index (encoder), and rebuilds a block from its
// last column (decoder); also the encoder's and the decoder's blocks, whose
// buffers are sized from the block capacity.
//
// The order is the one of the format's sort: blocks of up to 1024 bytes are
// shell-sorted on bytes; longer blocks are distributed into 65,536 two-byte
// buckets, sorted bucket by bucket in five size-class passes (largest buckets
// first) with a median-of-three quicksort whose comparison takes sixteen
// bytes a step, and after a bucket of fewer than 65,535 members is sorted its
// members' ranks stand in for their bytes in later comparisons. Where
// rotations are equal (a block that repeats a shorter string) the order among
// them, and with it the primary index and so the file's bytes, comes out of
// those steps.
//
// Scanning bytes makes that sort hang on repetitive blocks, so it is answered
// in two ways that give exactly its result:
// - A block that is no repetition has distinct rotations and so one order
//   only; a suffix sorter finds it (rotation_order.cpp).
// - A block u^k (k >= 2, u primitive of length P) runs the passes, quicksort
//   and ranking step for step, with a comparison that scans nothing. Two
//   rotations that start at different residues mod P are unequal, and the
//   byte comparison decides them in their true order: the order of the
//   rotations of u. Two that start at the same residue are equal; the byte
//   comparison walks both in steps of four positions, seeing equal words until
//   it meets a ranked position, whose ranks then decide, or gives up as equal
//   after passing every residue of its walk. Whether a position is ranked
//   depends only on its residue (the bucket key is its first two bytes), so
//   an index of ranked residues tells at once where the walk stops.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "hot_path.h"
#include "block_sort.h"
#include "rotation_order.h"
#include "work_buffers.h"

namespace {

const int32_t SHELL_SORT_LIMIT = 1024;
const int32_t INSERTION_LIMIT = 10;   // ranges of at most 11 entries
const int32_t QUICKSORT_STACK = 40;
const uint32_t RANK_LIMIT = 65535;    // buckets this large get no ranks
const uint16_t NO_RANK = 0xFFFF;      // above every rank (ranks stay below 65,534)
const uint32_t ROOT_RANK_MASK = 0x00FFFFFFu;
const uint32_t BYTE_MASK = 0xFF000000u;

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

// The format's quicksort of index[low..high] with `greater`: insertion sort
// for ranges of at most 11 entries, median of three, the pivot moved to
// high - 1, and the smaller part sorted first. With ties among the entries
// the result depends on every one of these steps, so they stay exactly so.
template <typename Greater> void quicksortRange(int32_t *index, int32_t low, int32_t high, Greater greater) {
    int32_t stack[2 * QUICKSORT_STACK];
    int32_t depth = 0;
    for (;;) {
        if (high - low <= INSERTION_LIMIT) {
            for (int32_t i = low + 1; i <= high; ++i) {
                const int32_t v = index[i];
                int32_t j = i;
                while (j > low && greater(index[j - 1], v)) {
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
        if (greater(index[low], index[mid])) std::swap(index[low], index[mid]);
        if (greater(index[low], index[high])) std::swap(index[low], index[high]);
        if (greater(index[mid], index[high])) std::swap(index[mid], index[high]);
        std::swap(index[mid], index[high - 1]);
        const int32_t pivot = index[high - 1];

        // Entry low and the pivot slot stop the scans; the extra bounds only
        // guard memory and never change the outcome.
        int32_t i = low;
        int32_t j = high - 1;
        for (;;) {
            do {
                ++i;
            } while (i < high - 1 && index[i] != pivot && greater(pivot, index[i]));
            do {
                --j;
            } while (j > low && greater(index[j], pivot));
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

int32_t greatestCommonDivisor(int32_t a, int32_t b) {
    while (b != 0) {
        const int32_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// x with (a * x) mod m == 1, for a and m coprime (m >= 1).
uint64_t modularInverse(int64_t a, int64_t m) {
    int64_t r0 = m, r1 = a % m, s0 = 0, s1 = 1;
    while (r1 != 0) {
        const int64_t q = r0 / r1;
        std::swap(r0, r1);
        r1 -= q * r0;
        std::swap(s0, s1);
        s1 -= q * s0;
    }
    s0 %= m;
    if (s0 < 0) s0 += m;
    return static_cast<uint64_t>(s0);
}

int lowestBit(uint64_t word) {
    return __builtin_ctzll(word);
}

// The residues mod P whose bucket has been ranked, indexed along the walk
// r -> r + 4 (mod P). That walk splits the residues into g = gcd(P, 4)
// cycles of L = P / g residues; residue r sits at place j of cycle r mod g,
// where r = (r mod g) + 4j (mod P). The bits of one cycle are contiguous, so
// the first ranked residue met on a walk is the next set bit after the
// start, or the first one of the cycle when the walk wraps. A 64-ary summary
// tree over the bits keeps the search short when ranked residues are rare.
class RankedResidues {
public:
    void init(WorkMemory &memory, int32_t period) {
        cycles_ = greatestCommonDivisor(period, 4);
        cycleLength_ = period / cycles_;
        stepInverse_ = cycleLength_ > 1 ? modularInverse(4 / cycles_, cycleLength_) : 0;
        size_t total = 0;
        size_t bits = static_cast<size_t>(period);
        levels_ = 0;
        do {
            words_[levels_] = (bits + 63) / 64;
            total += words_[levels_];
            bits = words_[levels_];
            ++levels_;
        } while (bits > 1);
        storage_ = memory.take<uint64_t>(total);
        std::memset(storage_.get(), 0, total * sizeof(uint64_t));
        uint64_t *next = storage_.get();
        for (int l = 0; l < levels_; ++l) {
            level_[l] = next;
            next += words_[l];
        }
    }

    void insert(int32_t residue) {
        size_t x = bitOf(residue);
        for (int l = 0; l < levels_; ++l) {
            level_[l][x >> 6] |= uint64_t(1) << (x & 63);
            x >>= 6;
        }
    }

    // Steps of four positions from `residue` to the first ranked residue on
    // its walk, or -1 if its cycle has none.
    int32_t distance(int32_t residue) const {
        const size_t base = static_cast<size_t>(residue & (cycles_ - 1)) * static_cast<size_t>(cycleLength_);
        const size_t start = bitOf(residue);
        const size_t end = base + static_cast<size_t>(cycleLength_);
        size_t hit = findNext(start);
        if (hit < end) return static_cast<int32_t>(hit - start);
        hit = findNext(base);
        if (hit < start) return static_cast<int32_t>(hit + static_cast<size_t>(cycleLength_) - start);
        return -1;
    }

private:
    static const int MAX_LEVELS = 8;
    static const size_t NONE = ~size_t(0);

    size_t bitOf(int32_t residue) const {
        const int32_t cycle = residue & (cycles_ - 1);
        const uint64_t steps = static_cast<uint64_t>((residue - cycle) / cycles_) * stepInverse_ %
                               static_cast<uint64_t>(cycleLength_);
        return static_cast<size_t>(cycle) * static_cast<size_t>(cycleLength_) + static_cast<size_t>(steps);
    }

    size_t findNext(size_t x) const {
        int l = 0;
        size_t i = x;
        for (;;) {
            const size_t w = i >> 6;
            if (w >= words_[l]) return NONE;
            const uint64_t m = level_[l][w] & (~uint64_t(0) << (i & 63));
            if (m != 0) {
                i = (w << 6) | static_cast<size_t>(lowestBit(m));
                break;
            }
            if (l + 1 == levels_) return NONE;
            i = w + 1;
            ++l;
        }
        while (l > 0) {
            --l;
            i = (i << 6) | static_cast<size_t>(lowestBit(level_[l][i]));
        }
        return i;
    }

    int32_t cycles_ = 1;
    int32_t cycleLength_ = 1;
    uint64_t stepInverse_ = 0;
    int levels_ = 0;
    size_t words_[MAX_LEVELS] = {};
    uint64_t *level_[MAX_LEVELS] = {};
    WorkBuffer<uint64_t> storage_;
};

// Valid while a repetitive block is sorted: 1 if rotation p is greater than
// rotation q in the format's comparison, 0 if smaller or found equal. What
// it reads: the low 24 bits of packed word p, the place of rotation p mod P
// among the rotations of the root (the top byte keeps the block byte); and
// rotationRanks[p], the place of p in its sorted bucket once that bucket is
// ranked, or, while p's own bucket is being sorted, the rank that decides
// between p and the other members of its residue (NO_RANK: they are equal).
int compareRotations(const EncoderBlock &block, int32_t p, int32_t q) {
    const uint32_t a = block.packedBlock[p] & ROOT_RANK_MASK;
    const uint32_t b = block.packedBlock[q] & ROOT_RANK_MASK;
    if (a != b) return a > b ? 1 : 0;
    return block.rotationRanks[p] > block.rotationRanks[q] ? 1 : 0;
}

void sortBucketRange(EncoderBlock &block, int32_t low, int32_t high) {
    quicksortRange(block.sortIndex.get(), low, high,
                   [&block](int32_t p, int32_t q) { return compareRotations(block, p, q) != 0; });
}

// Sorts the rotations of u^k, u of length `period`, into sortIndex. The
// packed words are rebuilt from u: block byte p is u[p mod period].
void sortPeriodicBlock(EncoderBlock &block, uint8_t *text, int32_t period) {
    uint32_t *packed = block.packedBlock.get();
    int32_t *index = block.sortIndex.get();
    const int32_t n = block.blockLength;
    for (int32_t p = 0, r = 0; p < n; ++p) {
        packed[p] = static_cast<uint32_t>(text[r]) << 24;
        if (++r == period) r = 0;
    }

    // Places of the root's rotations, in the low bits of the first P words,
    // then copied along the block.
    if (!sortPrimitiveRotations(text, period, index)) failureExit(VEK_FAILURE_OUT_OF_MEMORY);  // the suffix sorter's
    for (int32_t r = 0; r < period; ++r) {
        const int32_t pos = index[r];
        packed[pos] = (packed[pos] & BYTE_MASK) | static_cast<uint32_t>(r);
    }
    for (int32_t p = period; p < n; ++p) packed[p] = (packed[p] & BYTE_MASK) | (packed[p - period] & ROOT_RANK_MASK);

    // Counting sort into the two-byte buckets; each bucket lists its
    // positions in increasing order.
    int32_t *bucket = block.bucketTable.get();
    std::memset(bucket, 0, sizeof(int32_t) * (BUCKET_COUNT + 1));
    auto key = [&](int32_t i) {
        const int32_t next = i + 1 < n ? i + 1 : 0;
        return ((packed[i] >> 24) << 8) | (packed[next] >> 24);
    };
    for (int32_t i = 0; i < n; ++i) ++bucket[key(i)];
    for (uint32_t k = 0; k < BUCKET_COUNT; ++k) bucket[k + 1] += bucket[k];
    for (int32_t i = n - 1; i >= 0; --i) index[--bucket[key(i)]] = i;

    WorkBuffer<uint16_t> ranks = block.memory.take<uint16_t>(static_cast<size_t>(n));
    uint16_t *rank = ranks.get();
    RankedResidues ranked;
    ranked.init(block.memory, period);
    block.rotationRanks = rank;

    const SortSizeClasses classes = sortSizeClasses(block.capacity);
    for (int pair = 4; pair >= 0; --pair) {
        const uint32_t smallest = classes.bounds[2 * pair];
        const uint32_t largest = classes.bounds[2 * pair + 1];
        if (smallest > static_cast<uint32_t>(n)) continue;
        for (uint32_t k = 0; k < BUCKET_COUNT; ++k) {
            const int32_t first = bucket[k];
            const uint32_t size = static_cast<uint32_t>(bucket[k + 1] - first);
            if (size < smallest || size > largest) continue;
            const int32_t last = first + static_cast<int32_t>(size) - 1;

            // Where the walk of each member first meets a ranked residue, and
            // the rank found there. The ranked residues do not change while
            // the bucket is sorted.
            bool ties = false;
            for (int32_t i = first; i <= last; ++i) {
                const int32_t p = index[i];
                const int32_t t = ranked.distance(p % period);
                if (t < 0) {
                    rank[p] = NO_RANK;
                    ties = true;
                } else {
                    const int32_t target = static_cast<int32_t>((static_cast<int64_t>(p) + 4 * static_cast<int64_t>(t)) % n);
                    rank[p] = rank[target];
                }
            }
            if (ties) {
                // Some members compare equal: their order is the one the
                // quicksort leaves, so run it.
                sortBucketRange(block, first, last);
            } else {
                // The comparison is a strict total order on the bucket, so
                // every correct sort gives the quicksort's result.
                std::sort(index + first, index + last + 1,
                          [&](int32_t p, int32_t q) { return compareRotations(block, q, p) != 0; });
            }

            if (size < RANK_LIMIT) {
                for (uint32_t r = 0; r < size; ++r) rank[index[first + static_cast<int32_t>(r)]] = static_cast<uint16_t>(r);
                for (int32_t i = first; i <= last; ++i) ranked.insert(index[i] % period);
            }
        }
    }
    block.rotationRanks = nullptr;
}

// The sort proper: sortIndex, and lastColumn where the suffix sorter's pass
// picked it up (columnReady).
void sortRotations(EncoderBlock &block) {
    uint32_t *packed = block.packedBlock.get();
    int32_t *index = block.sortIndex.get();
    const int32_t n = block.blockLast + 1;
    block.blockLength = n;
    block.columnReady = false;
    // The block's bytes, one a byte, at the start of the packed words'
    // memory (as fillBlock leaves them).
    uint8_t *text = reinterpret_cast<uint8_t *>(packed);
    if (n <= SHELL_SORT_LIMIT) {
        // Word i is written over bytes 4i to 4i + 3, none of which is still
        // to be read when going down.
        for (int32_t i = n - 1; i >= 0; --i) packed[i] = static_cast<uint32_t>(text[i]) << 24;
        shellSort(packed, index, n);
        return;
    }

    // The block twice in a row, so that its rotations read without wrapping,
    // in the packed words' own memory (4n bytes).
    std::memcpy(text + n, text, static_cast<size_t>(n));
    bool repeats = false;
    const int32_t start = leastRotation(text, n, &repeats);
    if (!repeats) {
        // All rotations differ: suffixes of the least rotation, mapped back
        // to rotations of the block. The same pass picks the last column
        // out of the doubled block, which is smaller than the packed words
        // and so cheaper to read at random.
        if (!sortFromLeastRotation(text + start, n, start, index, text, block.lastColumn.get()))
            failureExit(VEK_FAILURE_OUT_OF_MEMORY);  // the suffix sorter's
        block.columnReady = true;
        return;
    }
    // Only the root is needed from here on.
    const int32_t period = smallestPeriod(text, n, index);
    WorkBuffer<uint8_t> root = block.memory.take<uint8_t>(static_cast<size_t>(period));
    std::memcpy(root.get(), text, static_cast<size_t>(period));
    sortPeriodicBlock(block, root.get(), period);
}

void findPrimaryIndex(EncoderBlock &block) {
    block.primaryIndex = -1;
    for (int32_t r = block.blockLast; r >= 0; --r) {
        if (block.sortIndex[r] == 0) {
            block.primaryIndex = r;
            return;
        }
    }
}

// The sorted block's last column into lastColumn, unless the sort has left
// it there: gathered in one pass of independent reads (each one jumps about
// the packed block).
void gatherLastColumn(EncoderBlock &block) {
    if (!block.columnReady) {
        const uint32_t *packed = block.packedBlock.get();
        const int32_t length = block.blockLength;
        uint8_t *gathered = block.lastColumn.get();
        for (int32_t i = 0; i <= block.blockLast; ++i) {
            int32_t p = block.sortIndex[i] - 1;
            if (p < 0) p += length;
            gathered[i] = static_cast<uint8_t>(packed[p] >> 24);
        }
    }
    block.columnReady = false;
}

} // namespace

SortSizeClasses sortSizeClasses(size_t capacity) {
    return SortSizeClasses{{2, 15, 16, 255, 256, 4095, 4096, 65535, 65536, static_cast<uint32_t>(capacity)}};
}

VEK_HOT_PATH void sortBlock(EncoderBlock &block) {
    sortRotations(block);
    findPrimaryIndex(block);
    gatherLastColumn(block);
}

void takeSortedColumn(EncoderBlock &block) {
    block.columnReady = false;
    findPrimaryIndex(block);
    gatherLastColumn(block);
}

EncoderBlock::EncoderBlock(WorkMemory &workMemory, size_t blockCapacity)
    : memory(workMemory), capacity(blockCapacity),
      packedBlock(memory.tryTake<uint32_t>(capacity + PACKED_BLOCK_SLACK)),
      sortIndex(memory.tryTake<int32_t>(capacity)),  // also the suffix sorter's array
      bucketTable(memory.tryTake<int32_t>(BUCKET_COUNT + 1)), lastColumn(memory.tryTake<uint8_t>(capacity)) {
    // All requests first, then one test: what was obtained is released by
    // the members' destructors.
    if (!packedBlock || !sortIndex || !bucketTable || !lastColumn) failureExit(VEK_FAILURE_OUT_OF_MEMORY);
}

DecoderBlock::DecoderBlock(WorkMemory &workMemory, size_t blockCapacity)
    : memory(workMemory), capacity(blockCapacity), blockText(memory.tryTake<uint8_t>(capacity)),
      lastColumn(memory.tryTake<uint8_t>(inverseScratchBytes(capacity))), sortIndex(memory.tryTake<int32_t>(capacity)) {
    if (!blockText || !lastColumn || !sortIndex) failureExit(VEK_FAILURE_OUT_OF_MEMORY);
}

namespace {

// The inverse transform walks the rows: row p holds byte c = column[p] and
// steps to row (number of column bytes smaller than c) + (earlier
// occurrences of c), the row of the rotation that starts one byte earlier.
// Walking from the primary row yields the block from its end backwards.
// That row and c share one word of the step table (row in bits 8-30, below
// 2^23 for every block size), so each step reads memory in one place; bit 31
// marks a step that enters a chain start (below).
const uint32_t STEP_ROW_MASK = 0x7FFFFFu;
const uint32_t STEP_ENTERS_START = 0x80000000u;

// Each step waits for the memory read of the one before, and a single walk
// through a table of megabytes waits on the memory system at every byte. So
// the rows are cut into chains: a chain starts at every row that is a multiple
// of CHAIN_SPACING (and at the primary row) and walks until it enters the
// start of another chain. The chains are independent, so CHAIN_SLOTS of them
// walk in turn and their reads overlap. A chain writes its bytes downwards
// into regions of REGION_SIZE bytes of scratch, taking a new region when one
// is full; following the chains from the primary row's then puts the regions
// in their place in the block.
const int32_t PLAIN_WALK_LIMIT = 8192;   // smaller blocks: one walk
const int32_t CHAIN_SPACING_MAX = 4096;
const int32_t CHAIN_SPACING_MIN = 512;   // at least 16 chains above the limit
const int32_t REGION_DIVISOR = 8;        // region = spacing / 8
const int CHAIN_SLOTS = 32;

int32_t chainSpacing(int32_t n) {
    int32_t spacing = CHAIN_SPACING_MAX;
    while (spacing > CHAIN_SPACING_MIN && n / spacing < 64) spacing /= 2;
    return spacing;
}

// The whole walk from the primary row, one step after the other.
void plainWalk(const uint32_t *step, uint8_t *text, int32_t n, uint32_t primary) {
    uint32_t p = primary;
    for (int32_t k = n - 1; k >= 0; --k) {
        const uint32_t w = step[p];
        text[k] = static_cast<uint8_t>(w);
        p = (w >> 8) & STEP_ROW_MASK;
    }
}

// Copies the filled stretch text[end..n) (whole turns of a cycle) in front
// of itself until the block is full: the walk goes round the cycle again.
void repeatCycle(uint8_t *text, int32_t n, int32_t end) {
    while (end > 0) {
        const int32_t filled = n - end;
        const int32_t bytes = std::min(filled, end);
        std::memcpy(text + end - bytes, text + end - bytes + filled, static_cast<size_t>(bytes));
        end -= bytes;
    }
}

struct Chain {
    int32_t firstRegion;  // -1 until the chain has walked
    int32_t successor;    // chain whose start this chain enters
};

struct Region {
    int32_t next;   // next region of the same chain, -1 for its last
    int32_t bytes;  // bytes written, at the region's top
};

// The chains of one block and the regions their bytes go to. Walkers take
// chains and regions from shared counters, so that two threads can walk the
// chains of one block at once: each chain and each region belongs to the
// one walker that took it, and the walkers' results meet only after both
// have ended.
struct ChainWalk {
    const uint32_t *step;
    uint8_t *scratch;
    uint32_t primary;
    int32_t spacing;
    int32_t regionSize;
    int32_t spacedChains;
    int32_t chainCount;
    int32_t primaryChain;
    Chain *chains;
    Region *regions;
    std::atomic<int32_t> nextChain{0};
    std::atomic<int32_t> usedRegions{0};

    int32_t chainOf(uint32_t row) const {
        return row == primary ? primaryChain : static_cast<int32_t>(row) / spacing;
    }
    uint32_t startOf(int32_t chain) const {
        return chain == spacedChains ? primary : static_cast<uint32_t>(chain) * static_cast<uint32_t>(spacing);
    }
};

// One walker: up to CHAIN_SLOTS chains in turn, until no chain is left.
VEK_HOT_PATH void walkChains(ChainWalk &walk) {
    const uint32_t *step = walk.step;
    uint8_t *scratch = walk.scratch;
    const int32_t regionSize = walk.regionSize;
    Chain *chains = walk.chains;
    Region *regions = walk.regions;
    struct Slot {
        uint32_t row;
        uint8_t *out;     // next byte to write, going down
        uint8_t *bottom;  // lowest byte of the current region
        int32_t chain;
        int32_t region;
    };
    Slot slots[CHAIN_SLOTS];
    int active = 0;
    auto openRegion = [&](Slot &s) {
        const int32_t r = walk.usedRegions.fetch_add(1, std::memory_order_relaxed);
        regions[r].next = -1;
        regions[r].bytes = 0;
        s.region = r;
        s.bottom = scratch + static_cast<size_t>(r) * static_cast<size_t>(regionSize);
        s.out = s.bottom + regionSize - 1;
    };
    auto closeRegion = [&](Slot &s) {
        regions[s.region].bytes = static_cast<int32_t>(s.bottom + regionSize - 1 - s.out);
    };
    // Puts the next chain into slot s; false when none is left.
    auto startChain = [&](Slot &s) {
        const int32_t c = walk.nextChain.fetch_add(1, std::memory_order_relaxed);
        if (c >= walk.chainCount) return false;
        s.chain = c;
        s.row = walk.startOf(c);
        openRegion(s);
        chains[c].firstRegion = s.region;
        return true;
    };
    while (active < CHAIN_SLOTS && startChain(slots[active])) ++active;

    while (active > 0) {
        for (int i = 0; i < active; ++i) {
            Slot &s = slots[i];
            const uint32_t w = step[s.row];
            *s.out = static_cast<uint8_t>(w);
            s.row = (w >> 8) & STEP_ROW_MASK;
            if (s.out != s.bottom && (w & STEP_ENTERS_START) == 0) {
                --s.out;
                continue;
            }
            if (s.out == s.bottom) {
                // The region is full: continue in a new one.
                --s.out;
                closeRegion(s);
                const int32_t full = s.region;
                openRegion(s);
                regions[full].next = s.region;
                if ((w & STEP_ENTERS_START) == 0) continue;
            } else {
                --s.out;
            }
            closeRegion(s);
            chains[s.chain].successor = walk.chainOf(s.row);
            if (!startChain(s)) {
                slots[i] = slots[--active];
                --i;
            }
        }
    }
}

// Blocks from this size on are worth a second walker: its start and join
// cost tens of microseconds, the walk of a block this size milliseconds.
const int32_t SHARED_WALK_MIN = 1 << 18;

void chainedWalk(WorkMemory &memory, const uint32_t *step, uint8_t *text, int32_t n, uint32_t primary,
                 uint8_t *scratch, int walkers) {
    ChainWalk walk;
    walk.step = step;
    walk.scratch = scratch;
    walk.primary = primary;
    walk.spacing = chainSpacing(n);
    walk.regionSize = walk.spacing / REGION_DIVISOR;
    walk.spacedChains = (n + walk.spacing - 1) / walk.spacing;
    const bool primarySpaced = primary % static_cast<uint32_t>(walk.spacing) == 0;
    walk.chainCount = walk.spacedChains + (primarySpaced ? 0 : 1);
    walk.primaryChain = primarySpaced ? static_cast<int32_t>(primary) / walk.spacing : walk.spacedChains;
    // Every chain uses at most one region that is not full, whichever
    // walker takes it.
    const int32_t regionCount = n / walk.regionSize + walk.chainCount;

    WorkBuffer<Chain> chainTable = memory.take<Chain>(static_cast<size_t>(walk.chainCount));
    WorkBuffer<Region> regionTable = memory.take<Region>(static_cast<size_t>(regionCount));
    walk.chains = chainTable.get();
    walk.regions = regionTable.get();

    std::thread second;
    if (walkers >= 2 && n >= SHARED_WALK_MIN) {
        try {
            second = std::thread([&walk] { walkChains(walk); });
        } catch (const std::system_error &) {
            // No thread to be had: this one walks every chain.
        }
    }
    walkChains(walk);
    if (second.joinable()) second.join();

    // From the end of the block backwards: the primary row's chain, its
    // successor and so on until the walk is back at the primary row.
    const Chain *chains = walk.chains;
    const Region *regions = walk.regions;
    const int32_t regionSize = walk.regionSize;
    int32_t end = n;
    int32_t c = walk.primaryChain;
    do {
        for (int32_t r = chains[c].firstRegion; r >= 0; r = regions[r].next) {
            const int32_t bytes = regions[r].bytes;
            end -= bytes;
            std::memcpy(text + end, scratch + static_cast<size_t>(r + 1) * static_cast<size_t>(regionSize) - bytes,
                        static_cast<size_t>(bytes));
        }
        c = chains[c].successor;
    } while (c != walk.primaryChain);
    // Where the primary row lies on a cycle shorter than the block, the walk
    // of n steps goes round it again: the bytes repeat with its length.
    repeatCycle(text, n, end);
}

// Eight step words side by side.
typedef uint32_t Words8 __attribute__((vector_size(32)));

// The end of the run of column[i] that starts at i (n at most): eight bytes
// a step.
inline __attribute__((always_inline)) int32_t runEnd(const uint8_t *column, int32_t i, int32_t n) {
    const uint8_t c = column[i];
    const uint64_t pattern = 0x0101010101010101ull * c;
    int32_t j = i + 1;
    for (; j + 8 <= n; j += 8) {
        uint64_t bytes;
        std::memcpy(&bytes, column + j, sizeof(bytes));
        if (bytes != pattern) break;
    }
    while (j < n && column[j] == c) ++j;
    return j;
}

} // namespace

size_t inverseScratchBytes(size_t capacity) {
    return capacity + capacity / REGION_DIVISOR + static_cast<size_t>(CHAIN_SPACING_MAX);
}

VEK_HOT_PATH void invertBlock(DecoderBlock &block, uint8_t *lastColumn, int32_t blockLast, int32_t primaryIndex,
                              const InverseCounts &columnCounts, int walkers) {
    const int32_t n = blockLast + 1;
    const uint8_t *column = lastColumn;
    // The byte counts and the places where the column changes byte, both
    // counted by the symbol decoder as it wrote the column.
    int32_t counts[256];
    std::memcpy(counts, columnCounts.bytes, sizeof(counts));
    const int32_t runs = columnCounts.changes;
    int32_t sum = 0;
    for (int c = 0; c < 256; ++c) {
        const int32_t k = counts[c];
        counts[c] = sum;
        sum += k;
    }
    // The symbol decoder guarantees 0 <= primaryIndex < n, and every step
    // lands on a row below n, so the walks stay in the block.
    const uint32_t primary = static_cast<uint32_t>(primaryIndex);
    uint32_t *step = reinterpret_cast<uint32_t *>(block.sortIndex.get());
    if (n < PLAIN_WALK_LIMIT) {
        for (int32_t i = 0; i < n; ++i) {
            const uint8_t c = column[i];
            step[i] = (static_cast<uint32_t>(counts[c]++) << 8) | c;
        }
        plainWalk(step, block.blockText.get(), n, primary);
        return;
    }
    const uint32_t spacingMask = static_cast<uint32_t>(chainSpacing(n)) - 1;
    auto stepWord = [&](uint32_t row, uint8_t c) {
        const uint32_t mark = (row & spacingMask) == 0 || row == primary ? STEP_ENTERS_START : 0;
        return mark | (row << 8) | c;
    };
    if (runs < n / 16) {
        // Few long runs: within a run the rows count up by one, so a run's
        // words are filled eight at a time.
        for (int32_t i = 0; i < n;) {
            const uint8_t c = column[i];
            const int32_t end = runEnd(column, i, n);
            uint32_t row = static_cast<uint32_t>(counts[c]);
            counts[c] += end - i;
            Words8 rows = Words8{0, 1, 2, 3, 4, 5, 6, 7} + row;
            for (; i + 8 <= end; i += 8) {
                const Words8 starts = reinterpret_cast<Words8>(((rows & spacingMask) == 0) | (rows == primary));
                const Words8 words = (rows << 8) | c | (starts & STEP_ENTERS_START);
                std::memcpy(step + i, &words, sizeof(words));
                rows += 8;
            }
            for (row = rows[0]; i < end; ++i) step[i] = stepWord(row++, c);
        }
    } else {
        for (int32_t i = 0; i < n; ++i) {
            const uint8_t c = column[i];
            step[i] = stepWord(static_cast<uint32_t>(counts[c]++), c);
        }
    }
    // The column is not needed any more: its buffer holds the regions.
    chainedWalk(block.memory, step, block.blockText.get(), n, primary, lastColumn, walkers);
}
