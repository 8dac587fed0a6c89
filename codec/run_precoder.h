// The run pre-coder: the encoder's reading of a picture's data bytes into
// blocks of pre-coded runs, the decoder's expansion of a block's runs into
// the restored file or the picture image, and the choice of the block size.
// It produces the format's pre-coded bytes, the block boundaries and the
// end marker, and chooses the header's blockFactor.
#ifndef VEK_CODEC_RUN_PRECODER_H
#define VEK_CODEC_RUN_PRECODER_H

#include <cstddef>
#include <cstdint>

#include "byte_streams.h"
#include "work_buffers.h"

// The block factor the encoder writes for `dataSize` data bytes.
uint32_t chooseBlockFactor(int32_t dataSize);

// Where the stage that knows how far an encode is reports its percentage.
class ProgressSink {
public:
    virtual void report(int32_t percentDone) = 0;

protected:
    ~ProgressSink() = default;
};

// The encoder's input: the data bytes of a picture, read through a buffer
// from where the header check left the source (zeros stand for bytes past
// its end), cut into blocks of whole runs.
class RunPrecoder {
public:
    void start(ByteSource &input, int32_t dataSize);
    // Fills `block` (room for `capacity` bytes; a block closes before it is
    // full) with the next block's pre-coded bytes and sets `blockLast` to the
    // index of its last byte; 1 when it is the last block. After each run of
    // four or more bytes the share of the data read so far goes to
    // `progress` (if set).
    int fillBlock(uint8_t *block, size_t capacity, int32_t &blockLast, ProgressSink *progress);

private:
    uint32_t readRun();
    uint8_t readDataByte();

    uint8_t buffer_[IO_BUFFER_SIZE];
    uint32_t avail_;      // bytes of the buffer not yet taken
    uint32_t filled_;     // bytes the buffer holds
    int32_t remaining_;   // data bytes not yet taken; below 0 once the end is met
    int32_t dataSize_;
    ByteSource *input_;
};

// The decoder's output of restored data bytes into a byte sink, through a
// buffer; it takes no more than `expected` bytes (the failure exit for a
// block that would pass them).
class FileOutput {
public:
    FileOutput(ByteSink &output, uint32_t expected) : output_(output), expected_(expected) {}
    void put(uint8_t b, uint32_t copies);
    void putBytes(const uint8_t *bytes, uint32_t length);
    void flush();
    uint32_t delivered() const { return delivered_; }

private:
    ByteSink &output_;
    uint32_t expected_;
    uint32_t delivered_ = 0;
    uint32_t used_ = 0;
    uint8_t buffer_[IO_BUFFER_SIZE];
};

// The decoder's output into a picture image that grows with the data (from
// IMAGE_FIRST_CAPACITY, doubling, up to the expected bytes, so that a small
// damaged file cannot make the codec reserve a huge picture), its memory
// from `memory`.
const uint32_t IMAGE_FIRST_CAPACITY = 1u << 20;
struct ImageOutput {
    uint8_t *&image;
    uint32_t &length;
    uint32_t &capacity;
    uint32_t expected;
    WorkMemory &memory;
    // Allocates the first part of the image (any image before is released).
    void start();
    void put(uint8_t b, uint32_t copies);
    void putBytes(const uint8_t *bytes, uint32_t length);
    void grow(uint32_t needed);
};

// Expands the runs of the decoded block text[0..blockLast], checking the end
// marker of the last block.
void expandBlock(const uint8_t *text, int32_t blockLast, int isLast, FileOutput &output);
void expandBlock(const uint8_t *text, int32_t blockLast, int isLast, ImageOutput &output);

#endif
