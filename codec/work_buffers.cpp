#include "work_buffers.h"

#include <cstdlib>
#include <cstring>
#if defined(__linux__)
#include <sys/mman.h>
#endif

void WorkRelease::operator()(void *p) const {
    memory->release(p);
}

void *WorkMemory::request(size_t bytes) {
    if (++requests_ == failRequest) return nullptr;
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
        ++liveBlocks_;
        return p;
    }
#endif
    p = std::malloc(bytes);
    if (p != nullptr) ++liveBlocks_;
    return p;
}

void *WorkMemory::resize(void *p, size_t bytes) {
    if (++requests_ == failRequest) return nullptr;
    void *q = std::realloc(p, bytes);
    if (q != nullptr && p == nullptr) ++liveBlocks_;
    return q;
}

void WorkMemory::release(void *p) {
    if (p == nullptr) return;
    std::free(p);
    --liveBlocks_;
}

void failureExit(int reason) {
    throw VekFailure{reason};
}
