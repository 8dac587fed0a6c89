#include "byte_streams.h"

#include <cstring>

bool FileSource::read(void *buffer, size_t count, size_t *got) {
    return platform::readFile(file, buffer, count, got);
}

bool FileSource::seekTo(uint64_t offset) {
    return platform::seekFromStart(file, static_cast<int64_t>(offset));
}

int64_t FileSource::size() {
    return platform::fileSize(file);
}

bool FileSink::write(const void *bytes, size_t count) {
    return platform::writeFile(file, bytes, count);
}

bool MemorySource::read(void *buffer, size_t count, size_t *got) {
    const size_t left = length - position;
    const size_t n = count < left ? count : left;
    if (n > 0) std::memcpy(buffer, bytes + position, n);
    position += n;
    *got = n;
    return true;
}

bool MemorySource::seekTo(uint64_t offset) {
    if (offset > length) return false;
    position = static_cast<size_t>(offset);
    return true;
}

bool MemorySink::write(const void *data, size_t count) {
    if (count > capacity - position) return false;
    if (count > 0) std::memcpy(bytes + position, data, count);
    position += count;
    return true;
}

bool rangesOverlap(const void *a, size_t aLength, const void *b, size_t bLength) {
    if (aLength == 0 || bLength == 0) return false;
    const uintptr_t x = reinterpret_cast<uintptr_t>(a);
    const uintptr_t y = reinterpret_cast<uintptr_t>(b);
    return x < y + bLength && y < x + aLength;
}
