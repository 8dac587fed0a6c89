// Move-to-front ranks with zero-run codes, coded with an 11-symbol main
// alphabet and seven rank-bucket models; also the block start value that
// carries the primary index and the last-block flag. Produces every block
// of the coded stream (the stream's bits are the range coder's).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "hot_path.h"
#include "symbol_coder.h"
#include "work_buffers.h"

namespace {

// The main alphabet. A rank r >= 1 falls in bucket floor(log2 r), 0 to 7,
// whose symbol is SYM_RANK_1 + bucket: rank 1 (bucket 0) is SYM_RANK_1
// itself, buckets 1 to 7 are symbols 4 to 10.
enum : uint32_t {
    SYM_RUN_2 = 1,
    SYM_RUN_1 = 2,
    SYM_RANK_1 = 3,
    SYM_END = SYM_RANK_1 + 8,
};

const uint32_t MAIN_SYMBOLS = SYM_END;
static_assert(MAIN_SYMBOLS <= 12, "the main model is coded as one group of symbols, 12 at most");

// Bucket number of rank r at index r - 1: floor(log2 r) for r = 2..255.
struct BucketTable {
    uint8_t bucketOf[256];
    BucketTable() {
        bucketOf[0] = 0;
        for (int r = 2; r <= 255; ++r) {
            int b = 0;
            while ((r >> (b + 1)) != 0) ++b;
            bucketOf[r - 1] = static_cast<uint8_t>(b);
        }
        bucketOf[255] = 0;
    }
};
const BucketTable BUCKETS;

// First rank of bucket b minus 1: 2^b - 1.
const uint32_t OFFSET_BASE[8] = {0, 1, 3, 7, 15, 31, 63, 127};

struct ModelSetting {
    uint32_t symbols, increment, limit;
};
constexpr ModelSetting SYMBOL_MODELS[8] = {
    {MAIN_SYMBOLS, 8, 900}, {2, 12, 900},  {4, 8, 1200},  {8, 6, 1600},
    {16, 3, 2000},          {32, 2, 2200}, {64, 1, 2400}, {128, 1, 3200},
};

// The coder divides by these models' totals (at most limit + increment)
// with its reciprocal table alone.
constexpr bool totalsWithinReciprocals() {
    for (const ModelSetting &m : SYMBOL_MODELS)
        if (m.limit + m.increment > coder::RECIPROCAL_LIMIT) return false;
    return true;
}
static_assert(totalsWithinReciprocals(), "symbol model totals beyond the reciprocal table");

// Buckets 1 to SMALL_BUCKETS have models of at most 16 symbols.
const uint32_t SMALL_BUCKETS = 4;
static_assert(SYMBOL_MODELS[SMALL_BUCKETS].symbols <= coder::GROUP &&
                  SYMBOL_MODELS[SMALL_BUCKETS + 1].symbols > coder::GROUP,
              "the small bucket models");

void resetMoveToFront(uint8_t *list) {
    for (int k = 0; k < 256; ++k) list[k] = static_cast<uint8_t>(k);
}

typedef uint8_t Bytes32 __attribute__((vector_size(32)));

// Loads 32 bytes into v (filled through a reference: passed by value, a
// 32-byte vector would not fit the baseline calling convention's registers).
inline __attribute__((always_inline)) void loadBytes(Bytes32 &v, const uint8_t *p) { std::memcpy(&v, p, sizeof(v)); }

// KEEP_FIRST[k]: bytes 0 .. k-1 all ones, the others 0.
struct KeepFirstTable {
    Bytes32 rows[32];
    KeepFirstTable() {
        for (int k = 0; k < 32; ++k)
            for (int i = 0; i < 32; ++i) rows[k][i] = i < k ? 0xFF : 0;
    }
};
const KeepFirstTable KEEP_FIRST;

// The decoder's move-to-front step: entry `rank` (1 to 255) of the list
// goes to the front and the entries before it move up by one. Below 32 (most
// ranks of drawn pictures) that is one blend of the list with itself moved
// up by one (both loads stay within its 256 entries); std::memmove is faster
// for the longer moves.
inline uint8_t moveToFront(uint8_t *list, uint32_t rank) {
    const uint8_t c = list[rank];
    if (rank < 32) {
        // Entries 1 .. rank take entries 0 .. rank-1; entries rank+1 .. 32 stay.
        const Bytes32 keep = KEEP_FIRST.rows[rank];
        Bytes32 front, next;
        loadBytes(front, list);
        loadBytes(next, list + 1);
        const Bytes32 moved = (front & keep) | (next & ~keep);
        std::memcpy(list + 1, &moved, sizeof(moved));
    } else {
        std::memmove(list + 1, list, rank);
    }
    list[0] = c;
    return c;
}

// The encoder's move-to-front list kept as each byte's place in it (less
// 128, so that places compare as signed bytes). A byte's rank is its place,
// read at once; moving it to the front adds one to the place of every byte
// in front of it, all 256 compared at once: the same steps whatever the
// rank, where searching the list would take longer and end at a place the
// processor cannot foresee for the high ranks of photos and 8-bit pictures.
struct MoveToFrontPlaces {
    typedef int8_t Places __attribute__((vector_size(32)));
    alignas(32) int8_t place[256];

    MoveToFrontPlaces() {
        for (int k = 0; k < 256; ++k) place[k] = static_cast<int8_t>(k - 128);
    }

    // The rank of c, which then goes to the front.
    inline uint32_t rankOf(uint8_t c) {
        const int8_t at = place[c];
        if (at == -128) return 0;
#pragma GCC unroll 8
        for (int k = 0; k < 256; k += 32) {
            Places v;
            std::memcpy(&v, place + k, sizeof(v));
            v -= (v < at);  // -1 where in front of c
            std::memcpy(place + k, &v, sizeof(v));
        }
        place[c] = -128;
        return static_cast<uint32_t>(at + 128);
    }
};

// A run of n rank-0 bytes (with the main model) in bijective base 2 with digits 1 and 2, most
// significant digit first.
inline __attribute__((always_inline)) void codeRunLength(EncoderRegisters &coder, FrequencyModel &model, uint32_t n) {
    uint32_t digits[32];
    int count = 0;
    while (n > 0) {
        if (n & 1) {
            digits[count++] = SYM_RUN_1;
            n = (n - 1) / 2;
        } else {
            digits[count++] = SYM_RUN_2;
            n = (n - 2) / 2;
        }
    }
    while (count > 0) coder.encode<coder::MAIN_MODEL>(model, digits[--count]);
}

} // namespace

namespace {

// At most what one symbol of a model whose total reaches `total` costs, in
// 1/1024 bit: the count of a coded symbol is at least 1, so it narrows the
// range by at most total / 1 and the rounding of range / total (range above
// 2^24) by at most a factor 1 / (1 - total / 2^24). Rounded up, and one unit
// more for the rounding of the logarithm itself.
uint64_t symbolCostBound(uint32_t total) {
    const double bits = std::log2(static_cast<double>(total)) - std::log2(1.0 - total / 16777216.0);
    return static_cast<uint64_t>(std::ceil(bits * 1024.0)) + 1;
}

} // namespace

SymbolCostBounds symbolCostBounds() {
    // A block byte costs one main-model symbol (a rank, or at most one digit
    // of a zero run) and, for a rank of 2 or more, one bucket-model symbol.
    // Totals never pass limit + increment.
    SymbolCostBounds bounds;
    const uint64_t main = symbolCostBound(SYMBOL_MODELS[0].limit + SYMBOL_MODELS[0].increment);
    uint64_t bucket = 0;
    for (int m = 1; m < 8; ++m)
        bucket = std::max(bucket, symbolCostBound(SYMBOL_MODELS[m].limit + SYMBOL_MODELS[m].increment));
    bounds.perByte = main + bucket;
    // Per block: the start value (four symbols of the flat byte model) and
    // the end symbol.
    bounds.perBlock = 4 * symbolCostBound(256) + main;
    return bounds;
}

void SymbolModels::reset() {
    for (int m = 0; m < 8; ++m)
        initModel(models[m], SYMBOL_MODELS[m].symbols, SYMBOL_MODELS[m].increment, SYMBOL_MODELS[m].limit);
}

namespace {

// Codes a block's ranks, `rankAt(i)` for i = 0 .. blockLast (0 for the byte
// at the front of the list), after its start value: zero runs in bijective
// base 2, rank 1 alone, greater ranks as their bucket and the offset in it.
// `zerosFrom(i)`, after a rank 0 at i, tells how many ranks from i on are 0
// (at least 1), so that a run can be passed over at once.
template <typename RankAt, typename ZerosFrom>
inline __attribute__((always_inline)) void codeRanks(RangeEncoder &encoder, SymbolModels &models, int32_t blockLast,
                                                     int32_t primary, int isLast, RankAt rankAt, ZerosFrom zerosFrom) {
    encoder.encodeValue32(isLast ? ~static_cast<uint32_t>(primary) : static_cast<uint32_t>(primary + 1));
    models.reset();
    EncoderRegisters coder(encoder);
    FrequencyModel &main = models.main();
    uint32_t run = 0;
    for (int32_t i = 0; i <= blockLast; ++i) {
        const uint32_t rank = rankAt(i);
        if (rank == 0) {
            const int32_t zeros = zerosFrom(i);
            run += static_cast<uint32_t>(zeros);
            i += zeros - 1;
            continue;
        }
        if (run > 0) {
            codeRunLength(coder, main, run);
            run = 0;
        }
        if (rank == 1) {
            coder.encode<coder::MAIN_MODEL>(main, SYM_RANK_1);
        } else {
            const uint32_t b = BUCKETS.bucketOf[rank - 1];
            coder.encode<coder::MAIN_MODEL>(main, SYM_RANK_1 + b);
            coder.encode<coder::BUCKET_MODEL>(models.models[b], rank - OFFSET_BASE[b]);
        }
    }
    codeRunLength(coder, main, run);
    coder.encode<coder::MAIN_MODEL>(main, SYM_END);
    coder.store();
}

// The number of zero ranks from i (a zero) on, below `end`: eight at a
// time while whole words fit.
inline int32_t zeroRanksFrom(const uint8_t *ranks, int32_t i, int32_t end) {
    int32_t at = i + 1;
    for (; at + 8 <= end; at += 8) {
        uint64_t word;
        std::memcpy(&word, ranks + at, sizeof(word));
        if (word != 0) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            return at - i + __builtin_ctzll(word) / 8;
#else
            return at - i + __builtin_clzll(word) / 8;
#endif
        }
    }
    while (at < end && ranks[at] == 0) ++at;
    return at - i;
}

} // namespace

VEK_HOT_PATH void encodeColumn(RangeEncoder &encoder, SymbolModels &models, const uint8_t *column, int32_t blockLast,
                               int32_t primary, int isLast) {
    // Ranks found as they are coded.
    MoveToFrontPlaces list;
    codeRanks(
        encoder, models, blockLast, primary, isLast, [&](int32_t i) -> uint32_t { return list.rankOf(column[i]); },
        [](int32_t) { return 1; });
}

VEK_HOT_PATH void moveToFrontRanks(uint8_t *column, int32_t blockLast) {
    MoveToFrontPlaces list;
    for (int32_t i = 0; i <= blockLast; ++i) column[i] = static_cast<uint8_t>(list.rankOf(column[i]));
}

VEK_HOT_PATH void encodeRanks(RangeEncoder &encoder, SymbolModels &models, const uint8_t *ranks, int32_t blockLast,
                              int32_t primary, int isLast) {
    codeRanks(
        encoder, models, blockLast, primary, isLast, [ranks](int32_t i) -> uint32_t { return ranks[i]; },
        [ranks, blockLast](int32_t i) { return zeroRanksFrom(ranks, i, blockLast + 1); });
}

namespace {

// Runs of zero ranks up to this length are stored without a call.
const uint64_t SHORT_RUN = 32;

// Sets n bytes at p to `value`: the short runs with a few overlapping
// stores, the others with std::memset.
inline __attribute__((always_inline)) void fillBytes(uint8_t *p, uint8_t value, uint64_t n) {
    if (n > SHORT_RUN) {
        std::memset(p, value, static_cast<size_t>(n));
        return;
    }
    const uint64_t word = value * 0x0101010101010101ull;
    if (n >= 8) {
        std::memcpy(p, &word, 8);
        std::memcpy(p + n - 8, &word, 8);
        if (n > 16) {
            std::memcpy(p + 8, &word, 8);
            std::memcpy(p + n - 16, &word, 8);
        }
    } else if (n >= 4) {
        std::memcpy(p, &word, 4);
        std::memcpy(p + n - 4, &word, 4);
    } else if (n > 0) {
        p[0] = value;
        p[n / 2] = value;
        p[n - 1] = value;
    }
}

// Where the symbol decoder puts a block: its bytes at once (moving each
// rank's byte to the front of the list), or the ranks, turned into bytes
// later by ranksToColumn.
struct ColumnSink {
    ColumnSink(uint8_t *moveToFrontList, uint8_t *out) : list(moveToFrontList), column(out), counts(), changes(0) {}
    uint8_t *list;
    uint8_t *column;
    // How often each byte occurs in the column, and at how many places the
    // column changes byte, which is every byte of a nonzero rank after the
    // first: for the inverse transform.
    int32_t counts[256];
    int32_t changes;
    inline void zeros(int64_t first, uint64_t n) {
        fillBytes(column + first, list[0], n);
        counts[list[0]] += static_cast<int32_t>(n);
    }
    inline void rank(int64_t at, uint32_t r) {
        const uint8_t c = moveToFront(list, r);
        column[at] = c;
        ++counts[c];
        changes += at != 0;
    }
    void countsInto(DecodedColumn &decoded) const {
        std::memcpy(decoded.counts.bytes, counts, sizeof(counts));
        decoded.counts.changes = changes;
    }
};

struct RankSink {
    uint8_t *ranks;
    inline void zeros(int64_t first, uint64_t n) { fillBytes(ranks + first, 0, n); }
    inline void rank(int64_t at, uint32_t r) { ranks[at] = static_cast<uint8_t>(r); }
};

// A block's start value: negative for the last block.
int32_t decodeBlockStart(RangeDecoder &decoder) {
    const int32_t start = static_cast<int32_t>(decoder.decodeValue32());
    if (start == 0) failureExit(VEK_FAILURE_DAMAGED_VEK);  // no encoder writes it
    return start;
}

// Whether the decoder takes the interval's ends from the spans (coder::
// spanOf), which pays where 32-bit vector multiplications, minima and
// maxima are single instructions: in the x86-64-v3 clone of the loops, the
// one that runs when the processor has it. Without the clones, x86-64
// builds take them too (the sanitizer and fuzzing builds check them so),
// the others (32-bit, WebAssembly) search for the symbol's number.
inline bool spansPay() {
#if defined(VEK_HOT_PATH_CLONES)
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v3");
#elif defined(__x86_64__) && defined(__SSE2__)
    return true;
#else
    return false;
#endif
}

// Decodes the symbols of the block with the given start value into `sink`;
// returns its last index, its primary index in *primaryIndex and whether it
// is the last block.
template <bool Spans, typename Sink>
inline __attribute__((always_inline)) int decodeSymbols(RangeDecoder &decoder, SymbolModels &models, size_t capacityBytes,
                                                        int32_t start, Sink &sink, int32_t *blockLast,
                                                        int32_t *primaryIndex) {
    const int isLast = start < 0;
    // |start| - 1 without overflow for the most negative value.
    const uint32_t magnitude = start < 0 ? 0u - static_cast<uint32_t>(start) : static_cast<uint32_t>(start);
    const uint32_t primary = magnitude - 1;

    models.reset();
    const int64_t capacity = static_cast<int64_t>(capacityBytes);
    int64_t last = -1;
    DecoderRegisters coder(decoder);
    coder::ModelLanes main(models.main(), Spans);
    uint32_t s = coder.decodeMain<Spans>(main);
    // The kinds are told apart by lastAtMost, which looks at symbols 1 to 3.
    static_assert(SYM_RUN_2 < SYM_RUN_1 && SYM_RUN_1 + 1 == SYM_RANK_1 && SYM_RANK_1 < 4 && MAIN_SYMBOLS >= 4,
                  "run digits first, then rank 1");
    for (;;) {
        if (coder.lastAtMost<Spans>(s, SYM_RUN_1)) {
            uint64_t n = 0;
            while (coder.lastAtMost<Spans>(s, SYM_RUN_1)) {
                n = 2 * n + (s == SYM_RUN_2 ? 2 : 1);
                if (n > static_cast<uint64_t>(capacity)) failureExit(VEK_FAILURE_DAMAGED_VEK);
                s = coder.decodeMain<Spans>(main);
            }
            if (last + static_cast<int64_t>(n) >= capacity) failureExit(VEK_FAILURE_DAMAGED_VEK);
            if (n <= SHORT_RUN)
                sink.zeros(last + 1, n);
            else
                coder.aside([&] { sink.zeros(last + 1, n); });
            last += static_cast<int64_t>(n);
            continue;
        }
        if (s == SYM_END) break;
        uint32_t rank = 1;
        if (!coder.lastAtMost<Spans>(s, SYM_RANK_1)) {
            const uint32_t b = s - SYM_RANK_1;
            rank = coder.decodeBucket<Spans>(models.models[b], b <= SMALL_BUCKETS) + OFFSET_BASE[b];
        }
        if (++last >= capacity) failureExit(VEK_FAILURE_DAMAGED_VEK);
        sink.rank(last, rank);
        s = coder.decodeMain<Spans>(main);
    }
    coder.store();
    if (Spans) main.store();

    if (last < 0) failureExit(VEK_FAILURE_DAMAGED_VEK);  // a block ends before its first byte
    if (primary > static_cast<uint64_t>(last))
        failureExit(VEK_FAILURE_DAMAGED_VEK);  // primary index outside the block
    *blockLast = static_cast<int32_t>(last);
    *primaryIndex = static_cast<int32_t>(primary);
    return isLast;
}

} // namespace

namespace {

VEK_HOT_PATH int decodeColumnFrom(RangeDecoder &decoder, SymbolModels &models, size_t capacity, int32_t start,
                                  DecodedColumn &decoded) {
    uint8_t list[256];  // the move-to-front list, entry 0 at the front
    resetMoveToFront(list);
    ColumnSink sink(list, decoded.column);
    const int isLast = spansPay() ? decodeSymbols<true>(decoder, models, capacity, start, sink, &decoded.blockLast,
                                                        &decoded.primaryIndex)
                                  : decodeSymbols<false>(decoder, models, capacity, start, sink, &decoded.blockLast,
                                                         &decoded.primaryIndex);
    sink.countsInto(decoded);
    decoded.ranks = false;
    return isLast;
}

VEK_HOT_PATH int decodeRanksFrom(RangeDecoder &decoder, SymbolModels &models, size_t capacity, int32_t start,
                                 DecodedColumn &decoded) {
    RankSink sink{decoded.column};
    const int isLast = spansPay() ? decodeSymbols<true>(decoder, models, capacity, start, sink, &decoded.blockLast,
                                                        &decoded.primaryIndex)
                                  : decodeSymbols<false>(decoder, models, capacity, start, sink, &decoded.blockLast,
                                                         &decoded.primaryIndex);
    decoded.ranks = true;
    return isLast;
}

} // namespace

int decodeColumn(RangeDecoder &decoder, SymbolModels &models, size_t capacity, DecodedColumn &decoded) {
    return decodeColumnFrom(decoder, models, capacity, decodeBlockStart(decoder), decoded);
}

int decodeRanks(RangeDecoder &decoder, SymbolModels &models, size_t capacity, DecodedColumn &decoded, bool column) {
    // The last block comes out as its column too: the other thread, which
    // would turn ranks into it, waits for that block anyway, and has the
    // block's inverse transform and output still to do.
    const int32_t start = decodeBlockStart(decoder);
    if (column || start < 0) return decodeColumnFrom(decoder, models, capacity, start, decoded);
    return decodeRanksFrom(decoder, models, capacity, start, decoded);
}

VEK_HOT_PATH void ranksToColumn(DecodedColumn &decoded) {
    uint8_t list[256];
    resetMoveToFront(list);
    ColumnSink sink(list, decoded.column);
    uint8_t *ranks = decoded.column;
    const int32_t n = decoded.blockLast + 1;
    for (int32_t i = 0; i < n;) {
        if (ranks[i] != 0) {
            sink.rank(i, ranks[i]);
            ++i;
            continue;
        }
        // A run of zero ranks: the front byte repeated.
        int32_t end = i + 1;
        while (end + 8 <= n) {
            uint64_t word;
            std::memcpy(&word, ranks + end, sizeof(word));
            if (word != 0) break;
            end += 8;
        }
        while (end < n && ranks[end] == 0) ++end;
        sink.zeros(i, static_cast<uint64_t>(end - i));
        i = end;
    }
    sink.countsInto(decoded);
}
