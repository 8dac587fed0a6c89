// The codec object, its exported factory and destructor, and the doors of
// its operations: the files and memory buffers they open and close around
// one encoder or decoder context.
#include "vek_codec.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "decoder_driver.h"
#include "encoder_driver.h"
#include "window_messages.h"
#include "work_buffers.h"

namespace {

const int VEK_VERSION = 1;

// Runs one public operation: its failure record starts empty, and ends
// empty on success or with exactly one reason when the result is 0. A path
// that returned 0 without naming its reason is a fault of the codec.
template <typename Result, typename Body> Result reporting(VekCodec &codec, Body body) {
    codec.lastFailure = VEK_FAILURE_NONE;
    const Result result = body();
    if (result != 0)
        codec.lastFailure = VEK_FAILURE_NONE;
    else if (codec.lastFailure == VEK_FAILURE_NONE)
        codec.lastFailure = VEK_FAILURE_INTERNAL;
    return result;
}

// Runs one encode or decode. When it takes the failure exit, runs out of
// memory or throws anything else, the reason is recorded (the operation's
// buffers have been released on the way out), `failed` is set and the
// result is 0: nothing leaves the library but 0.
template <typename Operation> int runGuarded(VekCodec &codec, bool *failed, Operation operation) {
    *failed = false;
    try {
        return operation();
    } catch (const VekFailure &failure) {
        codec.lastFailure = failure.reason;
    } catch (const std::bad_alloc &) {
        codec.lastFailure = VEK_FAILURE_OUT_OF_MEMORY;
    } catch (...) {
        codec.lastFailure = VEK_FAILURE_INTERNAL;
    }
    *failed = true;
    return 0;
}

// Runs one file-to-file conversion: opens the input, lets `accepts` look at
// it, refuses an output that is the input itself (creating it would destroy
// the input), creates the output and runs `convert`. Both files are closed
// afterwards. When the conversion failed, or the output could not be
// completed, an output file it created is removed: a half-written output is
// worse than none. (A picture that the encoder refuses leaves its empty
// output.)
template <typename Accepts, typename Convert>
int convertFile(VekCodec &codec, const char *inputPath, const char *outputPath, Accepts accepts, Convert convert) {
    if (inputPath == nullptr || outputPath == nullptr) return codec.refuse(VEK_FAILURE_ARGUMENTS);
    const platform::FileHandle input = platform::openForReading(inputPath);
    if (input == platform::INVALID_FILE) return codec.refuse(VEK_FAILURE_OPEN_INPUT);
    FileSource source(input);
    if (!accepts(source)) {
        platform::closeFile(input);
        return 0;
    }
    if (platform::isSameFile(input, outputPath)) {
        platform::closeFile(input);
        return codec.refuse(VEK_FAILURE_SAME_FILE);
    }
    const platform::FileHandle output = platform::createForWriting(outputPath);
    if (output == platform::INVALID_FILE) {
        platform::closeFile(input);
        return codec.refuse(VEK_FAILURE_CREATE_OUTPUT);
    }
    FileSink sink(output);
    bool failed = false;
    const int result = runGuarded(codec, &failed, [&] { return convert(source, sink); });
    const bool removable = platform::isRegularFile(output);
    const bool outputClosed = platform::closeFile(output);
    platform::closeFile(input);
    if (failed || !outputClosed) {
        if (removable) platform::deleteFile(outputPath);
        return failed ? 0 : codec.refuse(VEK_FAILURE_WRITE);  // data lost on closing
    }
    return result;
}

// The same for a conversion in memory: the output buffer's capacity in and
// the bytes written out, only on success. `source` reads [input, input +
// inputSize), from where the caller has left it.
template <typename Convert>
int convertMemory(VekCodec &codec, const void *input, uint32_t inputSize, ByteSource &source, void *output,
                  uint32_t *outputSize, Convert convert) {
    if (input == nullptr || output == nullptr || outputSize == nullptr) return codec.refuse(VEK_FAILURE_ARGUMENTS);
    if (rangesOverlap(input, inputSize, output, *outputSize)) return codec.refuse(VEK_FAILURE_ARGUMENTS);
    MemorySink sink(output, *outputSize);
    bool failed = false;
    const int result = runGuarded(codec, &failed, [&] { return convert(source, sink); });
    // A memory sink refuses a write only when the caller's buffer is full.
    if (failed && codec.lastFailure == VEK_FAILURE_WRITE) codec.lastFailure = VEK_FAILURE_OUTPUT_TOO_SMALL;
    if (result == 0) return 0;
    *outputSize = static_cast<uint32_t>(sink.length());
    return result;
}

} // namespace

VekCodec::VekCodec() {
    // Only the construction values matter; the rest is zeroed so that the
    // accessors answer predictably before any operation has run.
    std::memset(&header, 0, sizeof(header));
    std::memset(&fileHeader, 0, sizeof(fileHeader));
    std::memset(&infoHeader, 0, sizeof(infoHeader));
    imageLength = imageCapacity = imagePaletteSize = 0;
    lastFailure = VEK_FAILURE_NONE;

    image = nullptr;
    progressWindow = nullptr;
    progressMessage = 0;
    progressParam = 0;
    lastProgress = 0;
}

VekCodec::~VekCodec() {
    memory.release(image);
}

int VekCodec::getVersion() {
    return VEK_VERSION;
}

int VekCodec::decodeFile(const char *vekPath, const char *bmpPath) {
    // Files that no encoder writes are refused before an output is created.
    return reporting<int>(*this, [&] {
        VekFileHeader checked;
        return convertFile(
            *this, vekPath, bmpPath, [&](ByteSource &input) { return accepted(readStreamHeader(input, &checked)); },
            [&](ByteSource &input, ByteSink &output) { return decodeStream(checked, input, output); });
    });
}

int VekCodec::encodeFile(const char *bmpPath, const char *vekPath) {
    // A refused picture leaves an empty output: the header check runs on
    // the open files.
    return reporting<int>(*this, [&] {
        return convertFile(
            *this, bmpPath, vekPath, [](ByteSource &) { return true; },
            [this](ByteSource &input, ByteSink &output) { return encodeStream(input, output); });
    });
}

int VekCodec::loadFile(const char *vekPath) {
    return reporting<int>(*this, [&] {
        if (vekPath == nullptr) return refuse(VEK_FAILURE_ARGUMENTS);
        const platform::FileHandle input = platform::openForReading(vekPath);
        if (input == platform::INVALID_FILE) return refuse(VEK_FAILURE_OPEN_INPUT);
        FileSource source(input);
        const int result = loadStream(source);
        platform::closeFile(input);
        return result;
    });
}

int VekCodec::loadStream(ByteSource &input) {
    VekFileHeader checked;
    if (!accepted(readStreamHeader(input, &checked))) return 0;  // the previous picture stays
    bool failed = false;
    const int result = runGuarded(*this, &failed, [&] { return decodeToMemory(checked, input); });
    if (failed) {
        // A damaged stream leaves no picture behind.
        memory.release(image);
        image = nullptr;
        imageLength = imageCapacity = 0;
    }
    return result;
}

#if VEK_FILE_HEADER_BY_POINTER
BITMAPFILEHEADER *VekCodec::getFileHeader(BITMAPFILEHEADER *result) {
    *result = fileHeader;
    return result;
}
#else
BITMAPFILEHEADER VekCodec::getFileHeader() {
    return fileHeader;
}
#endif

void VekCodec::getInfoHeader(BITMAPINFOHEADER *out) {
    if (out != nullptr) *out = infoHeader;
}

uint8_t *VekCodec::getImage() {
    return image;
}

int VekCodec::getImageLength() {
    return static_cast<int>(imageLength);
}

uint8_t *VekCodec::getBits() {
    // The palette size of the loaded picture itself: a later decodeFile
    // rebuilds fileHeader for another picture and must not move this pointer.
    if (image == nullptr) return nullptr;
    return image + imagePaletteSize;
}

int VekCodec::getHeight() {
    return header.height;
}

int VekCodec::getWidth() {
    return header.width;
}

int VekCodec::getStride() {
    return (header.width + 3) & ~3;
}

int VekCodec::getBitCount() {
    return header.bitCount;
}

void VekCodec::setProgressTarget(VekWindowHandle window, VekMessage message, VekMessageParam param) {
    progressWindow = window;
    progressMessage = message;
    progressParam = param;
}

void VekCodec::postPercent(int32_t percentDone) {
    if (percentDone == lastProgress) return;
    lastProgress = percentDone;
    platform::postMessage(progressWindow, progressMessage, progressParam, percentDone);
}

int VekCodec::clearProgressTarget() {
    progressWindow = nullptr;
    progressMessage = 0;
    progressParam = 0;
    return 0;
}

uint32_t VekCodec::getEncodeBound(uint32_t bmpSize) {
    return reporting<uint32_t>(*this, [&] {
        const uint32_t bound = static_cast<uint32_t>(encodeBound(bmpSize));
        return bound != 0 ? bound : static_cast<uint32_t>(refuse(VEK_FAILURE_NOT_BMP));  // shorter than the headers
    });
}

int VekCodec::encodeMemory(const void *bmp, uint32_t bmpSize, void *vek, uint32_t *vekSize) {
    return reporting<int>(*this, [&] {
        MemorySource source(bmp, bmpSize);
        return convertMemory(*this, bmp, bmpSize, source, vek, vekSize,
                             [this](ByteSource &input, ByteSink &output) { return encodeStream(input, output); });
    });
}

namespace {

// The size of the BMP file a .vek stream restores, its header read from
// `source` (over [vek, vek + vekSize)) into *header; 0 (with the reason
// recorded) when the header is refused.
uint32_t decodedSizeOf(VekCodec &codec, const void *vek, ByteSource &source, VekFileHeader *header) {
    if (vek == nullptr) return static_cast<uint32_t>(codec.refuse(VEK_FAILURE_ARGUMENTS));
    if (!codec.accepted(readStreamHeader(source, header))) return 0;
    return BMP_HEADERS_SIZE + static_cast<uint32_t>(dataSizeOf(*header));
}

} // namespace

uint32_t VekCodec::getDecodedSize(const void *vek, uint32_t vekSize) {
    return reporting<uint32_t>(*this, [&] {
        MemorySource source(vek, vekSize);
        VekFileHeader h;
        return decodedSizeOf(*this, vek, source, &h);
    });
}

int VekCodec::decodeMemory(const void *vek, uint32_t vekSize, void *bmp, uint32_t *bmpSize) {
    return reporting<int>(*this, [&] {
        // The restored file has exactly the size its header announces: a
        // buffer that cannot hold it is refused before any work.
        MemorySource source(vek, vekSize);
        VekFileHeader checked;
        const uint32_t needed = decodedSizeOf(*this, vek, source, &checked);
        if (needed == 0) return 0;
        if (bmpSize == nullptr) return refuse(VEK_FAILURE_ARGUMENTS);
        if (*bmpSize < needed) return refuse(VEK_FAILURE_OUTPUT_TOO_SMALL);
        return convertMemory(*this, vek, vekSize, source, bmp, bmpSize, [&](ByteSource &input, ByteSink &output) {
            return decodeStream(checked, input, output);
        });
    });
}

int VekCodec::loadMemory(const void *vek, uint32_t vekSize) {
    return reporting<int>(*this, [&] {
        if (vek == nullptr) return refuse(VEK_FAILURE_ARGUMENTS);
        MemorySource source(vek, vekSize);
        return loadStream(source);
    });
}

int VekCodec::getLastFailure() {
    return lastFailure;
}

namespace {

// Posts each percentage to the object's progress target as it comes.
struct PostedProgress final : ProgressSink {
    explicit PostedProgress(VekCodec &c) : codec(c) {}
    VekCodec &codec;
    void report(int32_t percentDone) override { codec.postPercent(percentDone); }
};

} // namespace

int VekCodec::encodeStream(ByteSource &input, ByteSink &output) {
    AcceptedBitmap picture;
    if (!accepted(checkBitmapHeader(input, &picture))) return 0;
    header = picture.header;
    PostedProgress posted(*this);
    EncoderContext context(memory, progressWindow != nullptr ? &posted : nullptr);
    header.blockFactor = static_cast<uint8_t>(context.encode(picture, input, output, 0));
    return 1;
}

int VekCodec::decodeStream(const VekFileHeader &streamHeader, ByteSource &input, ByteSink &output) {
    header = streamHeader;
    DecoderContext context(memory);
    context.decodeToFile(streamHeader, input, output);
    restoredBitmapHeaders(streamHeader, &fileHeader, &infoHeader);
    return 1;
}

int VekCodec::decodeToMemory(const VekFileHeader &streamHeader, ByteSource &input) {
    header = streamHeader;
    DecoderContext context(memory);
    ImageOutput out{image, imageLength, imageCapacity, static_cast<uint32_t>(dataSizeOf(streamHeader)), memory};
    context.decodeToImage(streamHeader, input, out);
    restoredBitmapHeaders(streamHeader, &fileHeader, &infoHeader);
    imagePaletteSize = streamHeader.paletteSize;
    return 1;
}

VEK_EXPORT VekCodecInterface *VEK_Constructor() {
    return new (std::nothrow) VekCodec();
}

VEK_EXPORT void VEK_Destructor(VekCodecInterface *codec) {
    delete static_cast<VekCodec *>(codec);
}
