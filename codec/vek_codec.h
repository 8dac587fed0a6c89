// The codec object: the twenty slots of the interface, the reason of the
// last failure, the loaded picture and the progress target. Each encode or
// decode builds an encoder or decoder context (encoder_driver.h,
// decoder_driver.h) for its length; the object's work memory is where every
// stage takes its buffers from. The public operations come
// first, in slot order.
#ifndef VEK_CODEC_VEK_CODEC_H
#define VEK_CODEC_VEK_CODEC_H

#include <cstdint>

#include "byte_streams.h"
#include "vek/vek.h"
#include "vek_format.h"
#include "work_buffers.h"

class VekCodec final : public VekCodecInterface {
public:
    VekCodec();
    ~VekCodec();
    VekCodec(const VekCodec &) = delete;
    VekCodec &operator=(const VekCodec &) = delete;

    // --- Operations in slot order (vek_codec.cpp) ---
    int getVersion() override;
    int decodeFile(const char *vekPath, const char *bmpPath) override;
    int encodeFile(const char *bmpPath, const char *vekPath) override;
    int loadFile(const char *vekPath) override;
#if VEK_FILE_HEADER_BY_POINTER
    using VekCodecInterface::getFileHeader;
    BITMAPFILEHEADER *getFileHeader(BITMAPFILEHEADER *result) override;
#else
    BITMAPFILEHEADER getFileHeader() override;
#endif
    void getInfoHeader(BITMAPINFOHEADER *out) override;
    uint8_t *getImage() override;
    int getImageLength() override;
    uint8_t *getBits() override;
    int getHeight() override;
    int getWidth() override;
    int getStride() override;
    int getBitCount() override;
    void setProgressTarget(VekWindowHandle window, VekMessage message, VekMessageParam param) override;
    int clearProgressTarget() override;
    uint32_t getEncodeBound(uint32_t bmpSize) override;
    int encodeMemory(const void *bmp, uint32_t bmpSize, void *vek, uint32_t *vekSize) override;
    uint32_t getDecodedSize(const void *vek, uint32_t vekSize) override;
    int decodeMemory(const void *vek, uint32_t vekSize, void *bmp, uint32_t *bmpSize) override;
    int loadMemory(const void *vek, uint32_t vekSize) override;
    int getLastFailure() override;

    // Records why the running operation fails and returns 0: the refusals
    // that return instead of taking the failure exit.
    int refuse(int reason) {
        lastFailure = reason;
        return 0;
    }

    // Decodes a .vek stream into `image` (loadFile, loadMemory): 0 for a
    // refused header (the previous picture stays) or a damaged stream (no
    // picture is left), with the reason in lastFailure.
    int loadStream(ByteSource &input);

    // Records the reason of a refusal (none for VEK_FAILURE_NONE); true
    // when there is none.
    bool accepted(int reason) {
        if (reason == VEK_FAILURE_NONE) return true;
        lastFailure = reason;
        return false;
    }

    // One encode or decode, each with a context of its own; a refused
    // picture returns 0 with the reason in lastFailure, a failure takes the
    // failure exit.
    int encodeStream(ByteSource &input, ByteSink &output);
    // A .vek stream whose header has been read (the source stands after it).
    int decodeStream(const VekFileHeader &streamHeader, ByteSource &input, ByteSink &output);
    int decodeToMemory(const VekFileHeader &streamHeader, ByteSource &input);

    // Posts a percentage of the encode to the progress target, unless it
    // repeats the last one posted.
    void postPercent(int32_t percentDone);

    // --- Fields ---
    VekFileHeader header;
    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER infoHeader;
    uint8_t *image;
    uint32_t imageLength;
    VekWindowHandle progressWindow;
    VekMessage progressMessage;
    VekMessageParam progressParam;
    // The memory of the object's operations: the stages' work buffers and
    // the picture image come from here. (Its failRequest is the tests' way
    // to make any one request of an operation fail.)
    WorkMemory memory;
    // The last percentage this object posted: 0 from construction, and it
    // carries over from one encode to the next. Only the caller's thread
    // posts, so it needs no lock.
    int32_t lastProgress;

    // Bookkeeping that keeps damaged input from going out of bounds.
    uint32_t imageCapacity;            // bytes allocated at image
    uint32_t imagePaletteSize;         // bytes before the pixels in image
    int lastFailure;                   // VekFailureCode of the last operation
};

// The library's two exports, under their plain names (on Windows exported
// by the module-definition file vek.def).
#if defined(_WIN32)
#define VEK_EXPORT extern "C"
#else
#define VEK_EXPORT extern "C" __attribute__((visibility("default")))
#endif
VEK_EXPORT VekCodecInterface *VEK_Constructor();
VEK_EXPORT void VEK_Destructor(VekCodecInterface *codec);

#endif
