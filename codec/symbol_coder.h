// The symbol coder: a block's last column as move-to-front ranks with
// zero-run codes, coded with an 11-symbol main alphabet and seven
// rank-bucket models through the range coder, after the block's start value
// (the primary index and the last-block flag). It produces and reads the
// coded stream's blocks; the stream's bits are the range coder's.
#ifndef VEK_CODEC_SYMBOL_CODER_H
#define VEK_CODEC_SYMBOL_CODER_H

#include <cstddef>
#include <cstdint>

#include "arithmetic_coder.h"
#include "block_sort.h"

// The models of one block, reset at its start: 0 the main model, b the
// model of rank bucket b.
struct SymbolModels {
    FrequencyModel models[8];
    void reset();
    FrequencyModel &main() { return models[0]; }
};

// One block as the symbol decoder leaves it for the inverse transform: its
// last column (in the caller's buffer), its last index and primary index,
// and the column's counts (once it holds the bytes).
struct DecodedColumn {
    uint8_t *column;
    bool ranks;  // column holds the move-to-front ranks, not yet the bytes
    int32_t blockLast;
    int32_t primaryIndex;
    InverseCounts counts;
};

// Codes a block given by its last column, primary index and last byte.
void encodeColumn(RangeEncoder &encoder, SymbolModels &models, const uint8_t *column, int32_t blockLast,
                  int32_t primary, int isLast);
// The same from the column's move-to-front ranks (moveToFrontRanks), for a
// second thread to find them.
void encodeRanks(RangeEncoder &encoder, SymbolModels &models, const uint8_t *ranks, int32_t blockLast,
                 int32_t primary, int isLast);
// A block's last column and its move-to-front ranks, each written over the
// other. ranksToColumn also counts the column for the inverse transform.
void moveToFrontRanks(uint8_t *column, int32_t blockLast);
void ranksToColumn(DecodedColumn &decoded);

// Decodes a block of at most `capacity` bytes into decoded.column (and its
// counts) and returns whether it is the last. decodeRanks leaves the ranks
// instead, unless `column` is set or the block is the last one
// (decoded.ranks says which). Damaged data take the failure exit.
int decodeColumn(RangeDecoder &decoder, SymbolModels &models, size_t capacity, DecodedColumn &decoded);
int decodeRanks(RangeDecoder &decoder, SymbolModels &models, size_t capacity, DecodedColumn &decoded, bool column);

// Upper bounds of the coded size, in 1/1024 bit: per byte of a block, and
// per block besides its bytes.
struct SymbolCostBounds {
    uint64_t perByte;
    uint64_t perBlock;
};
SymbolCostBounds symbolCostBounds();

#endif
