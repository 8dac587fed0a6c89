// The memory of the codec's operations and the codec's failure exit. Which
// buffers a stage uses and how large they are is the stage's business
// (block_sort.h); this file only hands out memory.
//
// Each codec object owns one WorkMemory, through which all its encodes and
// decodes take their buffers, so objects are independent: any number of
// them may run operations at the same time in different threads, one
// thread per object at a time (an operation's own second thread takes its
// memory from the same place).
#ifndef VEK_CODEC_WORK_BUFFERS_H
#define VEK_CODEC_WORK_BUFFERS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "vek/vek.h"
#include "vek_format.h"

class WorkMemory;

// Gives memory back to the WorkMemory it came from when its owner goes out
// of scope.
struct WorkRelease {
    WorkMemory *memory;
    void operator()(void *p) const;
};
template <typename T> using WorkBuffer = std::unique_ptr<T[], WorkRelease>;

// Every block of memory an operation uses comes from here, so that out of
// memory anywhere takes the one failure path, and so that a test can make
// any single request fail. The counts are shared by all threads of an
// operation.
class WorkMemory {
public:
    WorkMemory() = default;
    WorkMemory(const WorkMemory &) = delete;
    WorkMemory &operator=(const WorkMemory &) = delete;

    // Null when the memory cannot be had. Released with `release`.
    void *request(size_t bytes);
    void *resize(void *p, size_t bytes);
    void release(void *p);
    // As request, for `count` elements; null when the memory cannot be had.
    template <typename T> WorkBuffer<T> tryTake(size_t count) {
        return WorkBuffer<T>(static_cast<T *>(request(count * sizeof(T))), WorkRelease{this});
    }
    // The same, but the failure exit instead of null.
    template <typename T> WorkBuffer<T> take(size_t count);

    // Requests made so far, and blocks obtained and not yet released.
    uint32_t requests() const { return requests_; }
    int32_t liveBlocks() const { return liveBlocks_; }

    // Test hook: the request numbered `failRequest` (counted from 1 over
    // the object's life; 0 for none) returns null, as if memory had run out.
    uint32_t failRequest = 0;

private:
    std::atomic<uint32_t> requests_{0};
    std::atomic<int32_t> liveBlocks_{0};
};

// Thrown by failureExit; the operation that was running catches it.
struct VekFailure {
    int reason;  // a VekFailureCode (vek.h)
};

// The codec's one failure path: unwinds to the operation that was running,
// which records `reason` as its object's last failure, closes its files,
// removes an output file it created and returns 0; the buffers of the
// operation are released on the way by their owners. It never ends the
// process.
[[noreturn]] void failureExit(int reason);

template <typename T> WorkBuffer<T> WorkMemory::take(size_t count) {
    T *p = static_cast<T *>(request(count * sizeof(T) + 1));
    if (p == nullptr) failureExit(VEK_FAILURE_OUT_OF_MEMORY);
    return WorkBuffer<T>(p, WorkRelease{this});
}

#endif
