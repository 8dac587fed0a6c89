#include "work_buffers.h"

#include <cstdlib>
#include <cstring>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "block_sort.h"
#include "vek_codec.h"

void WorkspaceRelease::operator()(void *p) const {
    workspace->release(p);
}

void *BlockWorkspace::request(size_t bytes) {
    if (owner != nullptr) return owner->request(bytes);
    if (++requests == failRequest) return nullptr;
    void *p = nullptr;
#if defined(__linux__)
    // Buffers of a megabyte and more get huge pages: one fault then maps
    // 2 MB where 4 KB pages would fault 512 times (in a virtual machine each
    // fault costs several microseconds, a tenth of the decode of a
    // screenshot), and the tables read at random do not also miss the
    // address translation cache. The whole huge pages nearest the size are
    // asked for, so that a buffer just over a multiple of 2 MB does not
    // take a whole page more for its last bytes.
    const size_t HUGE_PAGE = size_t(2) << 20;
    if (bytes >= HUGE_PAGE / 2) {
        const size_t huge = (bytes + HUGE_PAGE / 2) / HUGE_PAGE * HUGE_PAGE;
        if (posix_memalign(&p, HUGE_PAGE, bytes > huge ? bytes : huge) != 0) return nullptr;
        madvise(p, huge, MADV_HUGEPAGE);
        ++liveBlocks;
        return p;
    }
#endif
    p = std::malloc(bytes);
    if (p != nullptr) ++liveBlocks;
    return p;
}

void *BlockWorkspace::resize(void *p, size_t bytes) {
    if (owner != nullptr) return owner->resize(p, bytes);
    if (++requests == failRequest) return nullptr;
    void *q = std::realloc(p, bytes);
    if (q != nullptr && p == nullptr) ++liveBlocks;
    return q;
}

void BlockWorkspace::release(void *p) {
    if (owner != nullptr) return owner->release(p);
    if (p == nullptr) return;
    std::free(p);
    --liveBlocks;
}

namespace {

template <typename T> void releaseBuffer(BlockWorkspace &workspace, T *&buffer) {
    workspace.release(buffer);
    buffer = nullptr;
}

} // namespace

void initWorkspace(BlockWorkspace &workspace) {
    workspace.packedBlock = nullptr;
    workspace.sortIndex = nullptr;
    workspace.bucketTable = nullptr;
    workspace.blockText = nullptr;
    workspace.lastColumn = nullptr;
    workspace.columnReady = false;
    workspace.blockLast = workspace.blockLength = workspace.primaryIndex = 0;
    workspace.rotationRanks = nullptr;
    std::memset(workspace.byteCounts, 0, sizeof(workspace.byteCounts));
    workspace.columnChanges = 0;
    workspace.owner = nullptr;
    workspace.requests = 0;
    workspace.failRequest = 0;
    workspace.liveBlocks = 0;
}

void allocEncoderWorkspace(VekCodec &codec) {
    BlockWorkspace &workspace = codec.workspace;
    const size_t capacity = size_t(codec.BlockFactor) * BLOCK_UNIT;
    workspace.packedBlock = static_cast<uint32_t *>(workspace.request((capacity + PACKED_BLOCK_SLACK) * sizeof(uint32_t)));
    workspace.sortIndex = static_cast<int32_t *>(workspace.request(capacity * sizeof(int32_t)));  // the suffix sorter's array
    workspace.bucketTable = static_cast<int32_t *>(workspace.request((BUCKET_COUNT + 1) * sizeof(int32_t)));
    workspace.lastColumn = static_cast<uint8_t *>(workspace.request(capacity));
    workspace.columnReady = false;
    if (workspace.packedBlock == nullptr || workspace.sortIndex == nullptr || workspace.bucketTable == nullptr ||
        workspace.lastColumn == nullptr)
        failureExit(VEK_FAILURE_OUT_OF_MEMORY);
}

void freeEncoderWorkspace(BlockWorkspace &workspace) {
    releaseBuffer(workspace, workspace.packedBlock);
    releaseBuffer(workspace, workspace.sortIndex);
    releaseBuffer(workspace, workspace.bucketTable);
    releaseBuffer(workspace, workspace.lastColumn);
}

void allocDecoderWorkspace(VekCodec &codec, uint32_t blockFactor) {
    BlockWorkspace &workspace = codec.workspace;
    codec.BlockFactor = blockFactor;
    const size_t capacity = size_t(blockFactor) * BLOCK_UNIT;
    workspace.blockText = static_cast<uint8_t *>(workspace.request(capacity));
    workspace.lastColumn = static_cast<uint8_t *>(workspace.request(inverseScratchBytes(capacity)));
    workspace.sortIndex = static_cast<int32_t *>(workspace.request(capacity * sizeof(int32_t)));
    if (workspace.blockText == nullptr || workspace.lastColumn == nullptr || workspace.sortIndex == nullptr)
        failureExit(VEK_FAILURE_OUT_OF_MEMORY);
}

void freeDecoderWorkspace(BlockWorkspace &workspace) {
    releaseBuffer(workspace, workspace.blockText);
    releaseBuffer(workspace, workspace.lastColumn);
    releaseBuffer(workspace, workspace.sortIndex);
}

void releaseWorkspace(BlockWorkspace &workspace) {
    freeEncoderWorkspace(workspace);
    freeDecoderWorkspace(workspace);
    workspace.columnReady = false;
}

void failureExit(int reason) {
    throw VekFailure{reason};
}
