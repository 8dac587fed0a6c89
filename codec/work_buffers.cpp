#include "work_buffers.h"

#include <cstdlib>

#include "vek_codec.h"

BlockWorkspace workspace = {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 0};
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

} // namespace

void allocEncoderWorkspace(VekCodec &codec) {
    const size_t factor = codec.BlockFactor;
    workspace.packedBlock = request<uint32_t>(factor * 32768 + 64);
    workspace.sortIndex = request<int32_t>(factor * 32768);
    workspace.bucketTable = request<int32_t>(4 * (BUCKET_COUNT + 1));
    if (workspace.packedBlock == nullptr || workspace.sortIndex == nullptr || workspace.bucketTable == nullptr)
        failureExit();
}

void freeEncoderWorkspace() {
    release(workspace.packedBlock);
    release(workspace.sortIndex);
    release(workspace.bucketTable);
}

void allocDecoderWorkspace(VekCodec &codec, uint32_t blockFactor) {
    codec.BlockFactor = blockFactor;
    const size_t factor = blockFactor;
    workspace.blockText = request<uint8_t>(factor * BLOCK_UNIT);
    workspace.lastColumn = request<uint8_t>(factor * BLOCK_UNIT);
    workspace.sortIndex = request<int32_t>(factor * 32768);
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
}

void failureExit() {
    release(workspace.packedBlock);
    release(workspace.sortIndex);
    release(workspace.bucketTable);
    release(workspace.blockText);
    release(workspace.lastColumn);
    throw VekFailure();
}
