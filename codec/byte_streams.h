// Where the coding stages take their bytes from and put them: a file of the
// platform's file layer or a buffer in memory. The stages see only these two
// small interfaces, so one core serves the file and the memory operations.
// Both are called once per buffer of up to 64 KiB, never per byte.
#ifndef VEK_CODEC_BYTE_STREAMS_H
#define VEK_CODEC_BYTE_STREAMS_H

#include <cstddef>
#include <cstdint>

#include "file_io.h"

// Buffer sizes of the stages' input and output: the most they read or write
// in one call.
const uint32_t IO_BUFFER_SIZE = 65536;

// Input of an operation: the BMP picture (encoder) or the .vek stream
// (decoders).
class ByteSource {
public:
    // Reads up to `count` bytes from the current position; `got` receives
    // the number read (fewer than count only at the end). False on a read
    // error.
    virtual bool read(void *buffer, size_t count, size_t *got) = 0;
    // Moves the position to `offset` bytes from the start.
    virtual bool seekTo(uint64_t offset) = 0;
    // Length in bytes, or -1 if it cannot be told.
    virtual int64_t size() = 0;

protected:
    ~ByteSource() = default;
};

// Output of an operation: the .vek stream (encoder) or the BMP picture
// (decoder).
class ByteSink {
public:
    // Writes all `count` bytes at the current position; false if any could
    // not be written (a full disk, a memory buffer too small).
    virtual bool write(const void *bytes, size_t count) = 0;

protected:
    ~ByteSink() = default;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(platform::FileHandle f) : file(f) {}
    bool read(void *buffer, size_t count, size_t *got) override;
    bool seekTo(uint64_t offset) override;
    int64_t size() override;

private:
    platform::FileHandle file;
};

class FileSink final : public ByteSink {
public:
    explicit FileSink(platform::FileHandle f) : file(f) {}
    bool write(const void *bytes, size_t count) override;

private:
    platform::FileHandle file;
};

// Bytes [data, data + length) of the caller's; nothing outside them is read.
class MemorySource final : public ByteSource {
public:
    MemorySource(const void *data, size_t length)
        : bytes(static_cast<const uint8_t *>(data)), length(length), position(0) {}
    bool read(void *buffer, size_t count, size_t *got) override;
    bool seekTo(uint64_t offset) override;
    int64_t size() override { return static_cast<int64_t>(length); }

private:
    const uint8_t *bytes;
    size_t length;
    size_t position;
};

// The caller's buffer [data, data + capacity); nothing outside it is
// written. A write that would pass the end writes nothing and fails.
class MemorySink final : public ByteSink {
public:
    MemorySink(void *data, size_t capacity)
        : bytes(static_cast<uint8_t *>(data)), capacity(capacity), position(0) {}
    bool write(const void *bytes, size_t count) override;
    // Bytes written.
    size_t length() const { return position; }

private:
    uint8_t *bytes;
    size_t capacity;
    size_t position;
};

// True if the two byte ranges share a byte.
bool rangesOverlap(const void *a, size_t aLength, const void *b, size_t bLength);

#endif
