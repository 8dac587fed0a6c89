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

// Runs one file-to-file conversion: opens the input, lets `accepts` look at
// it, refuses an output that is the input itself (creating it would destroy
// the input), creates the output and runs `convert`. Both files are closed
// afterwards. When the conversion failed, or the output could not be
// completed, an output file it created is removed: a half-written output is
// worse than none.
template <typename Accepts, typename Convert>
int convertFile(const char *inputPath, const char *outputPath, Accepts accepts, Convert convert) {
    if (inputPath == nullptr || outputPath == nullptr) return 0;
    const platform::FileHandle input = platform::openForReading(inputPath);
    if (input == platform::INVALID_FILE) return 0;
    if (!accepts(input) || platform::isSameFile(input, outputPath)) {
        platform::closeFile(input);
        return 0;
    }
    const platform::FileHandle output = platform::createForWriting(outputPath);
    if (output == platform::INVALID_FILE) {
        platform::closeFile(input);
        return 0;
    }
    int result = 0;
    bool failed = false;
    try {
        result = convert(input, output);
    } catch (const VekFailure &) {
        failed = true;
    }
    const bool removable = platform::isRegularFile(output);
    const bool outputClosed = platform::closeFile(output);
    platform::closeFile(input);
    if (failed || !outputClosed) {
        if (removable) platform::deleteFile(outputPath);
        return 0;
    }
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
    streamFile = pictureFile = platform::INVALID_FILE;
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
}

VekCodec::~VekCodec() {
    std::free(image);
}

int VekCodec::getVersion() {
    return VEK_VERSION;
}

int VekCodec::decodeFile(const char *vekPath, const char *bmpPath) {
    // Files that no encoder writes are refused before an output is created.
    return convertFile(
        vekPath, bmpPath,
        [this](platform::FileHandle input) {
            VekFileHeader checked;
            return readStreamHeader(input, &checked) != 0;
        },
        [this](platform::FileHandle input, platform::FileHandle output) { return decodeStream(input, output); });
}

int VekCodec::encodeFile(const char *bmpPath, const char *vekPath) {
    // A refused picture leaves an empty output: the header check runs on
    // the open files.
    return convertFile(
        bmpPath, vekPath, [](platform::FileHandle) { return true; },
        [this](platform::FileHandle input, platform::FileHandle output) { return encodeStream(input, output); });
}

int VekCodec::loadFile(const char *vekPath) {
    if (vekPath == nullptr) return 0;
    const platform::FileHandle input = platform::openForReading(vekPath);
    if (input == platform::INVALID_FILE) return 0;
    VekFileHeader checked;
    if (!readStreamHeader(input, &checked)) {
        platform::closeFile(input);  // the previous picture stays
        return 0;
    }
    int result = 0;
    try {
        result = decodeToMemory(input);
    } catch (const VekFailure &) {
        // A damaged stream leaves no picture behind.
        std::free(image);
        image = nullptr;
        imageLength = imageCapacity = 0;
        result = 0;
    }
    platform::closeFile(input);
    return result;
}

BITMAPFILEHEADER VekCodec::getFileHeader() {
    return fileHeader;
}

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

VEK_EXPORT VekCodecInterface *VEK_Constructor() {
    VekCodec *codec = new (std::nothrow) VekCodec();
    if (codec == nullptr) return nullptr;
    clearWorkspaceReferences();
    return codec;
}

VEK_EXPORT void VEK_Destructor(VekCodecInterface *codec) {
    delete static_cast<VekCodec *>(codec);
}
