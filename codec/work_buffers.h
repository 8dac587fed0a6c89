// Work buffers of the block stage, the memory they come from, and the
// codec's failure exit. Which buffers a stage uses and how large they are is
// the stage's business (block_sort.h); this file only hands out memory.
//
// Each codec object owns one set of buffers (its `workspace`), allocated at
// the start of each encode or decode and released at its end, so objects are
// independent: any number of them may run operations at the same time in
// different threads, one thread per object at a time.
#ifndef VEK_CODEC_WORK_BUFFERS_H
#define VEK_CODEC_WORK_BUFFERS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "vek/vek.h"
#include "vek_format.h"

struct BlockWorkspace;

// Frees memory obtained from a workspace when its owner goes out of scope.
struct WorkspaceRelease {
    BlockWorkspace *workspace;
    void operator()(void *p) const;
};
template <typename T> using WorkspaceBuffer = std::unique_ptr<T[], WorkspaceRelease>;

struct BlockWorkspace {
    uint32_t *packedBlock;  // encoder: the block's bytes, one a byte, as fillBlock leaves them;
                            // the sort turns them into words (byte i in bits 24-31 of word i)
                            // where it compares words; room for n + 16 words
    int32_t *sortIndex;     // encoder: sorted rotations; decoder: occurrence numbers
    int32_t *bucketTable;   // encoder: 65,537 bucket counts, then starts
    uint8_t *blockText;     // decoder: the rebuilt pre-coded block
    uint8_t *lastColumn;    // the last column: decoded (decoder), or left by the sort (encoder)
    bool columnReady;       // encoder: lastColumn holds the sorted block's column
    int32_t blockLast;      // index of the block's last byte
    int32_t blockLength;    // block length (encoder)
    int32_t primaryIndex;   // sorted row of the unrotated block
    size_t capacity;        // the most bytes a block may hold in these buffers
    // Encoder, while a repetitive block is sorted: the ranks its comparison
    // reads (block_sort.cpp).
    uint16_t *rotationRanks;

    // Every block of memory an operation uses comes from here, so that out
    // of memory anywhere takes the one failure path, and so that a test can
    // make any single request fail: the request numbered `failRequest`
    // (counted from 1 over the object's life; 0 for none) returns null.
    // The buffers of a second sorting thread ask their owner, the object's
    // own set, so the counts cover the whole operation.
    BlockWorkspace *owner;
    std::atomic<uint32_t> requests;
    uint32_t failRequest;
    std::atomic<int32_t> liveBlocks;  // obtained and not yet released

    // Null when the memory cannot be had. Released with `release`.
    void *request(size_t bytes);
    void *resize(void *p, size_t bytes);
    void release(void *p);
    // As request, but the failure exit instead of null, owned by the caller.
    template <typename T> WorkspaceBuffer<T> take(size_t count);
    // Releases one of the set's buffers and clears its pointer.
    template <typename T> void releaseBuffer(T *&buffer) {
        release(buffer);
        buffer = nullptr;
    }
};

// Thrown by failureExit; the operation that was running catches it.
struct VekFailure {
    int reason;  // a VekFailureCode (vek.h)
};

// The codec's one failure path: unwinds to the operation that was running,
// which records `reason` as its object's last failure, releases the object's
// work buffers, closes its files, removes an output file it created and
// returns 0. It never ends the process.
[[noreturn]] void failureExit(int reason);

template <typename T> WorkspaceBuffer<T> BlockWorkspace::take(size_t count) {
    T *p = static_cast<T *>(request(count * sizeof(T) + 1));
    if (p == nullptr) failureExit(VEK_FAILURE_OUT_OF_MEMORY);
    return WorkspaceBuffer<T>(p, WorkspaceRelease{this});
}

const uint32_t BUCKET_COUNT = 65536;
// Words of the packed block past its last byte's word, which the sort may
// read.
const uint32_t PACKED_BLOCK_SLACK = 16;

void initWorkspace(BlockWorkspace &workspace);
// Releases every buffer of the set that is allocated (the failure path).
void releaseWorkspace(BlockWorkspace &workspace);

#endif
