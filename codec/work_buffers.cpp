#include "work_buffers.h"

#include <cstdlib>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "block_sort.h"
#include "vek_codec.h"

BlockWorkspace workspace = {nullptr, nullptr, nullptr, nullptr, nullptr, false, 0, 0, 0, {}, 0};
uint8_t mtfList[256];
int32_t lastProgress = 0;

namespace {

template <typename T> void release(T *&buffer) {
    if (buffer != nullptr) {
        std::free(buffer);
        buffer = nullptr;
    }
}

template <typename T> T *request(size_t bytes) {
    return static_cast<T *>(std::malloc(bytes));
}

template <typename T> T *requestLarge(size_t bytes) {
    return static_cast<T *>(requestLargeBuffer(bytes));
}

} // namespace

// A table of megabytes read at random: on Linux it asks for huge pages, so
// that the reads do not also miss the address translation cache, and so that
// a few faults map it instead of one per 4 KB page. Freed with std::free.
void *requestLargeBuffer(size_t bytes) {
#if defined(__linux__)
    const size_t HUGE_PAGE = size_t(2) << 20;
    if (bytes >= HUGE_PAGE) {
        void *p = nullptr;
        const size_t rounded = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
        if (posix_memalign(&p, HUGE_PAGE, rounded) != 0) return nullptr;
        madvise(p, rounded, MADV_HUGEPAGE);
        return p;
    }
#endif
    return std::malloc(bytes);
}

void allocEncoderWorkspace(VekCodec &codec) {
    const size_t factor = codec.BlockFactor;
    workspace.packedBlock = request<uint32_t>(factor * 32768 + 64);
    workspace.sortIndex = requestLarge<int32_t>(factor * 32768);  // the suffix sorter's array
    workspace.bucketTable = request<int32_t>(4 * (BUCKET_COUNT + 1));
    workspace.lastColumn = request<uint8_t>(factor * BLOCK_UNIT);
    workspace.columnReady = false;
    if (workspace.packedBlock == nullptr || workspace.sortIndex == nullptr || workspace.bucketTable == nullptr ||
        workspace.lastColumn == nullptr)
        failureExit();
}

void freeEncoderWorkspace() {
    release(workspace.packedBlock);
    release(workspace.sortIndex);
    release(workspace.bucketTable);
    release(workspace.lastColumn);
}

void allocDecoderWorkspace(VekCodec &codec, uint32_t blockFactor) {
    codec.BlockFactor = blockFactor;
    const size_t factor = blockFactor;
    workspace.blockText = request<uint8_t>(factor * BLOCK_UNIT);
    workspace.lastColumn = request<uint8_t>(inverseScratchBytes(factor * BLOCK_UNIT));
    workspace.sortIndex = requestLarge<int32_t>(factor * 32768);
    if (workspace.blockText == nullptr || workspace.lastColumn == nullptr || workspace.sortIndex == nullptr)
        failureExit();
}

void freeDecoderWorkspace() {
    release(workspace.blockText);
    release(workspace.lastColumn);
    release(workspace.sortIndex);
}

void clearWorkspaceReferences() {
    workspace.packedBlock = nullptr;
    workspace.sortIndex = nullptr;
    workspace.bucketTable = nullptr;
    workspace.blockText = nullptr;
    workspace.lastColumn = nullptr;
    workspace.columnReady = false;
}

void failureExit() {
    release(workspace.packedBlock);
    release(workspace.sortIndex);
    release(workspace.bucketTable);
    release(workspace.blockText);
    release(workspace.lastColumn);
    throw VekFailure();
}
