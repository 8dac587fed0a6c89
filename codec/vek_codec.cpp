// The codec object, its exported factory and destructor, and the three file
// operations that open and close the files around the drivers.
#include "vek_codec.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "work_buffers.h"

namespace {

const int VEK_VERSION = 1;
const uint32_t DEFAULT_BLOCK_FACTOR = 2;
const uint32_t SORT_SIZE_CLASSES[10] = {2, 15, 16, 255, 256, 4095, 4096, 65535, 65536,
                                        DEFAULT_BLOCK_FACTOR * BLOCK_UNIT};

// Runs one encode or decode. When it takes the failure exit, runs out of
// memory or throws anything else, the object's work buffers are released,
// `failed` is set and the result is 0: nothing leaves the library but 0.
template <typename Operation> int runGuarded(VekCodec &codec, bool *failed, Operation operation) {
    *failed = false;
    try {
        return operation();
    } catch (const VekFailure &) {
    } catch (const std::bad_alloc &) {
    } catch (...) {
    }
    releaseWorkspace(codec.workspace);
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
    if (inputPath == nullptr || outputPath == nullptr) return 0;
    const platform::FileHandle input = platform::openForReading(inputPath);
    if (input == platform::INVALID_FILE) return 0;
    FileSource source(input);
    if (!accepts(source) || platform::isSameFile(input, outputPath)) {
        platform::closeFile(input);
        return 0;
    }
    const platform::FileHandle output = platform::createForWriting(outputPath);
    if (output == platform::INVALID_FILE) {
        platform::closeFile(input);
        return 0;
    }
    FileSink sink(output);
    bool failed = false;
    const int result = runGuarded(codec, &failed, [&] { return convert(source, sink); });
    const bool removable = platform::isRegularFile(output);
    const bool outputClosed = platform::closeFile(output);
    platform::closeFile(input);
    if (failed || !outputClosed) {
        if (removable) platform::deleteFile(outputPath);
        return 0;
    }
    return result;
}

// The same for a conversion in memory: the output buffer's capacity in and
// the bytes written out, only on success.
template <typename Convert>
int convertMemory(VekCodec &codec, const void *input, uint32_t inputSize, void *output, uint32_t *outputSize,
                  Convert convert) {
    if (input == nullptr || output == nullptr || outputSize == nullptr) return 0;
    if (rangesOverlap(input, inputSize, output, *outputSize)) return 0;
    MemorySource source(input, inputSize);
    MemorySink sink(output, *outputSize);
    bool failed = false;
    const int result = runGuarded(codec, &failed, [&] { return convert(source, sink); });
    if (result == 0) return 0;
    *outputSize = static_cast<uint32_t>(sink.length());
    return result;
}

} // namespace

VekCodec::VekCodec() {
    // Only the construction values matter; the rest is zeroed so that the
    // accessors answer predictably before any operation has run.
    dataSize = 0;
    outPos = inAvail = inFilled = 0;
    remaining = 0;
    std::memset(&header, 0, sizeof(header));
    std::memset(&fileHeader, 0, sizeof(fileHeader));
    std::memset(&infoHeader, 0, sizeof(infoHeader));
    streamInput = pictureInput = nullptr;
    streamOutput = nullptr;
    initWorkspace(workspace);
    std::memset(mtfList, 0, sizeof(mtfList));
    bitBuffer = bitsLeft = low = range = code = pending = 0;
    readerBits = 0;
    readerCount = 0;
    std::memset(&byteModel, 0, sizeof(byteModel));
    std::memset(symbolModels, 0, sizeof(symbolModels));
    imageLength = imageCapacity = expectedBytes = deliveredBytes = imagePaletteSize = 0;
    streamBytesWritten = 0;

    autoBlockFactor = 1;
    BlockFactor = DEFAULT_BLOCK_FACTOR;
    std::memcpy(sortSizeClasses, SORT_SIZE_CLASSES, sizeof(sortSizeClasses));
    image = nullptr;
    progressWindow = nullptr;
    progressMessage = 0;
    progressParam = 0;
    progressLog = nullptr;
}

VekCodec::~VekCodec() {
    workspace.release(image);
}

int VekCodec::getVersion() {
    return VEK_VERSION;
}

int VekCodec::decodeFile(const char *vekPath, const char *bmpPath) {
    // Files that no encoder writes are refused before an output is created.
    return convertFile(
        *this, vekPath, bmpPath,
        [this](ByteSource &input) {
            VekFileHeader checked;
            return readStreamHeader(input, &checked) != 0;
        },
        [this](ByteSource &input, ByteSink &output) { return decodeStream(input, output); });
}

int VekCodec::encodeFile(const char *bmpPath, const char *vekPath) {
    // A refused picture leaves an empty output: the header check runs on
    // the open files.
    return convertFile(
        *this, bmpPath, vekPath, [](ByteSource &) { return true; },
        [this](ByteSource &input, ByteSink &output) { return encodeStream(input, output); });
}

int VekCodec::loadFile(const char *vekPath) {
    if (vekPath == nullptr) return 0;
    const platform::FileHandle input = platform::openForReading(vekPath);
    if (input == platform::INVALID_FILE) return 0;
    FileSource source(input);
    const int result = loadStream(source);
    platform::closeFile(input);
    return result;
}

int VekCodec::loadStream(ByteSource &input) {
    VekFileHeader checked;
    if (!readStreamHeader(input, &checked)) return 0;  // the previous picture stays
    bool failed = false;
    const int result = runGuarded(*this, &failed, [&] { return decodeToMemory(input); });
    if (failed) {
        // A damaged stream leaves no picture behind.
        workspace.release(image);
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

int VekCodec::clearProgressTarget() {
    progressWindow = nullptr;
    progressMessage = 0;
    progressParam = 0;
    return 0;
}

uint32_t VekCodec::getEncodeBound(uint32_t bmpSize) {
    return static_cast<uint32_t>(encodeBound(bmpSize));
}

int VekCodec::encodeMemory(const void *bmp, uint32_t bmpSize, void *vek, uint32_t *vekSize) {
    return convertMemory(*this, bmp, bmpSize, vek, vekSize,
                         [this](ByteSource &input, ByteSink &output) { return encodeStream(input, output); });
}

uint32_t VekCodec::getDecodedSize(const void *vek, uint32_t vekSize) {
    if (vek == nullptr) return 0;
    MemorySource source(vek, vekSize);
    VekFileHeader h;
    if (!readStreamHeader(source, &h)) return 0;
    return BMP_HEADERS_SIZE + static_cast<uint32_t>(dataSizeOf(h));
}

int VekCodec::decodeMemory(const void *vek, uint32_t vekSize, void *bmp, uint32_t *bmpSize) {
    // The restored file has exactly the size its header announces: a buffer
    // that cannot hold it is refused before any work.
    const uint32_t needed = getDecodedSize(vek, vekSize);
    if (needed == 0 || bmpSize == nullptr || *bmpSize < needed) return 0;
    return convertMemory(*this, vek, vekSize, bmp, bmpSize,
                         [this](ByteSource &input, ByteSink &output) { return decodeStream(input, output); });
}

int VekCodec::loadMemory(const void *vek, uint32_t vekSize) {
    if (vek == nullptr) return 0;
    MemorySource source(vek, vekSize);
    return loadStream(source);
}

VEK_EXPORT VekCodecInterface *VEK_Constructor() {
    return new (std::nothrow) VekCodec();
}

VEK_EXPORT void VEK_Destructor(VekCodecInterface *codec) {
    delete static_cast<VekCodec *>(codec);
}
