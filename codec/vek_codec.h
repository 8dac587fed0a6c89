// The codec object: one class whose operations are spread over the stage
// files of this folder (format, run pre-coder, block sort, arithmetic coder,
// symbol coder, drivers). The public operations come first, in slot order.
#ifndef VEK_CODEC_VEK_CODEC_H
#define VEK_CODEC_VEK_CODEC_H

#include <cstdint>

#include "byte_streams.h"
#include "run_precoder.h"
#include "symbol_coder.h"
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

    // --- Encoder and decoder drivers (encoder_driver.cpp, decoder_driver.cpp) ---
    // 1 when the BMP headers are accepted (the source is then at the first
    // data byte); 0 with the reason in lastFailure when not.
    int checkBitmapHeader(ByteSource &input);
    // The largest .vek size the encoder writes for a BMP file of that many
    // bytes; 0 when no BMP file of that size is accepted.
    static uint64_t encodeBound(uint64_t bmpSize);
    int encodeStream(ByteSource &input, ByteSink &output);
    // The blocks of an encode: one after the other, or filled and sorted in
    // two threads (blocks k + 1 and k + 2) while block k is coded.
    void encodeBlocks();
    void encodeBlocksInPipeline();
    // A .vek stream whose header has been read (the source stands after it).
    int decodeStream(const VekFileHeader &streamHeader, ByteSource &input, ByteSink &output);
    int decodeToMemory(const VekFileHeader &streamHeader, ByteSource &input);
    // The blocks of a decode, each written by `write(isLast)` once it is
    // inverted: one after the other, or with block k turned from ranks into
    // bytes, inverted and written in a second thread while the ranks of
    // block k + 1 are decoded.
    template <typename Write> void decodeBlocks(uint32_t expected, Write write);
    // False when no second thread could be had (nothing decoded yet).
    template <typename Write> bool decodeBlocksInPipeline(uint8_t *secondColumn, Write write);
    // Reads and checks the 12-byte header at the start of a .vek stream and
    // leaves the source after it. 0 for a stream that no encoder writes,
    // with the reason in lastFailure.
    int readStreamHeader(ByteSource &input, VekFileHeader *out);

    // Posts a percentage of the encode to the progress target, unless it
    // repeats the last one posted.
    void postPercent(int32_t percentDone);

    // --- Fields ---
    int32_t dataSize;
    uint32_t autoBlockFactor;
    uint32_t BlockFactor;
    VekFileHeader header;
    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER infoHeader;
    uint8_t *image;
    uint32_t imageLength;
    VekWindowHandle progressWindow;
    VekMessage progressMessage;
    VekMessageParam progressParam;
    // The coding stages' state: the range coder of an encode or a decode,
    // the symbol models, and the block stage's work buffers.
    RunPrecoder precoder;
    RangeEncoder encoder;
    RangeDecoder decoder;
    SymbolModels symbols;
    BlockWorkspace workspace;
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
