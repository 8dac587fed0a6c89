// The codec object: one class whose operations are spread over the stage
// files of this folder (format, run pre-coder, block sort, arithmetic coder,
// symbol coder, drivers). The public operations come first, in slot order.
#ifndef VEK_CODEC_VEK_CODEC_H
#define VEK_CODEC_VEK_CODEC_H

#include <cstdint>

#include "byte_streams.h"
#include "vek/vek.h"
#include "vek_format.h"
#include "work_buffers.h"

// An adaptive frequency table of up to 256 symbols, numbered 1 to n.
struct FrequencyModel {
    uint32_t total;        // sum of freq[1..n]
    uint32_t symbolCount;  // n
    uint32_t increment;    // added to a symbol's count after it is coded
    uint32_t limit;        // counts are halved once total passes this
    uint32_t freq[258];    // freq[0] and freq[n+1] stay 0
    // Running sums of freq, kept with every update so that a symbol's
    // cumulative count needs no scan, in groups of 16 symbols (0-15, 16-31,
    // ...): cum[k] sums the counts of k's group up to k, groupBase[g] the
    // counts before group g; entries past n lie above every total. Models
    // hold totals below 16,384.
    alignas(16) int16_t cum[272];
    alignas(16) int16_t groupBase[24];
    alignas(16) int16_t incrementLanes[8];  // the increment, eight times
};

// Percentages of one block's fill, kept to be posted from the caller's
// thread when the block is coded (a repeat of the value before it is left
// out: it would not be posted). Within an encode they only rise.
struct ProgressLog {
    int32_t values[101];
    uint32_t count;
    void clear() { count = 0; }
    void note(int32_t percent) {
        if (count > 0 && values[count - 1] == percent) return;
        if (count == sizeof(values) / sizeof(values[0])) --count;
        values[count++] = percent;
    }
};

// Buffer sizes of the coder's file input and output.
const uint32_t IO_BUFFER_SIZE = 65536;
// The decoded picture image starts at this size (or the data size, if
// smaller) and doubles as the data arrive, up to the data size.
const uint32_t IMAGE_FIRST_CAPACITY = 1u << 20;

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
    template <typename Write> void decodeBlocks(Write write);
    // False when no second thread could be had (nothing decoded yet).
    template <typename Write> bool decodeBlocksInPipeline(uint8_t *secondColumn, Write write);
    // Reads and checks the 12-byte header at the start of a .vek stream and
    // leaves the source after it. 0 for a stream that no encoder writes,
    // with the reason in lastFailure.
    int readStreamHeader(ByteSource &input, VekFileHeader *out);

    // --- Run pre-coder and block assembly (run_precoder.cpp) ---
    void chooseBlockFactor();
    // Posts a percentage of the encode (or logs it, while progressLog is
    // set); the repeat of the last posted one is left out.
    void reportProgress(int32_t percentDone);
    void postProgress(const ProgressLog &log);
    void postPercent(int32_t percentDone);
    uint32_t readRun();
    int fillBlock();
    int fillBlock(BlockWorkspace &workspace);  // into another set of buffers
    void writeBlockToFile(ByteSink &output, int isLast);
    void writeBlockToImage(int isLast);

    // --- Arithmetic coder, models and bit I/O (arithmetic_coder.cpp) ---
    void initModel(FrequencyModel &model, uint32_t n, uint32_t increment, uint32_t limit);
    void encodeSymbol(FrequencyModel &model, uint32_t symbol);
    uint32_t decodeSymbol(FrequencyModel &model);
    void encodeValue32(uint32_t value);
    uint32_t decodeValue32();
    void startEncoder(ByteSink &output, const uint8_t header[VEK_HEADER_SIZE]);
    void finishEncoder();
    void startDecoderReader(ByteSource &input);  // the source stands after the header
    void startDecoderCoder();                            // before the first block
    void putBit(uint32_t bit);
    void writeStreamChunk();  // writes outBuffer[0..outPos) to the .vek stream
    uint32_t getBit();
    uint8_t readByte();
    // Takes stored bytes into readerBits while there is room and data; fails
    // if fewer than `needed` bits are then at hand.
    void refillReader(uint32_t needed);

    // --- Move-to-front and zero-run symbol coder (symbol_coder.cpp) ---
    // symbolCostBounds(): see below.
    void resetSymbolModels();
    // A block from the workspace: its sorted column (encoder), or into
    // lastColumn and the counts of the inverse transform (decoder).
    void encodeBlockSymbols(int isLast);
    int decodeBlockSymbols();
    // A block given by its last column, primary index and last byte.
    void encodeColumn(const uint8_t *column, int32_t blockLast, int32_t primary, int isLast);
    int decodeColumn(DecodedColumn &decoded);
    // The same in two passes, for two threads: the move-to-front ranks of
    // the column (moveToFrontRanks, below) coded here; or the ranks decoded
    // here, in place of the column, and turned into it by ranksToColumn;
    // the column comes out at once when `column` is set and for the last
    // block (decoded.ranks says which).
    void encodeRanks(const uint8_t *ranks, int32_t blockLast, int32_t primary, int isLast);
    int decodeRanks(DecodedColumn &decoded, bool column);

    // --- Picture input for the encoder (run_precoder.cpp) ---
    // One data byte of the BMP file; zeros stand for bytes past its end.
    uint8_t readDataByte();
    void unreadDataByte();

    FrequencyModel &mainModel() { return symbolModels[0]; }

    // --- Fields ---
    int32_t dataSize;
    uint32_t autoBlockFactor;
    uint32_t BlockFactor;
    uint8_t outBuffer[IO_BUFFER_SIZE];
    uint8_t inBuffer[IO_BUFFER_SIZE];
    uint32_t outPos;
    uint32_t inAvail;
    int32_t remaining;
    uint32_t inFilled;
    VekFileHeader header;
    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER infoHeader;
    ByteSource *streamInput;  // the .vek stream being read (decoders)
    ByteSink *streamOutput;   // the .vek stream being written (encoder)
    uint32_t bitBuffer;     // encoder: bits collected for the next byte
    uint32_t bitsLeft;      // encoder: bits still to collect for it
    uint64_t readerBits;    // decoder: stream bits taken and not yet used, the next at bit 63
    uint32_t readerCount;   // decoder: how many
    uint32_t low;
    uint32_t range;
    uint32_t code;
    uint32_t pending;
    FrequencyModel byteModel;
    FrequencyModel symbolModels[8];  // 0: main model, b: bucket model b
    uint8_t *image;
    uint32_t imageLength;
    VekWindowHandle progressWindow;
    VekMessage progressMessage;
    VekMessageParam progressParam;
    ProgressLog *progressLog;  // while blocks are filled in a second thread
    // The last percentage this object posted: 0 from construction, and it
    // carries over from one encode to the next. Only the caller's thread
    // posts, so it needs no lock.
    int32_t lastProgress;

    // The block stage's work buffers and the symbol coder's move-to-front
    // list (entry 0 is the front), this object's own.
    BlockWorkspace workspace;
    uint8_t mtfList[256];

    // Bookkeeping that keeps damaged input from going out of bounds.
    ByteSource *pictureInput;          // BMP input of the encoder
    uint32_t imageCapacity;            // bytes allocated at image
    uint32_t expectedBytes;            // N of the header being decoded
    uint32_t deliveredBytes;           // data bytes restored so far
    uint64_t streamBytesWritten;       // .vek bytes written by the encoder
    uint32_t imagePaletteSize;         // bytes before the pixels in image
    int lastFailure;                   // VekFailureCode of the last operation
};

// Upper bounds of the coded size, in 1/1024 bit: per byte of a block, and
// per block besides its bytes (symbol_coder.cpp).
struct SymbolCostBounds {
    uint64_t perByte;
    uint64_t perBlock;
};
SymbolCostBounds symbolCostBounds();

// A block's last column and its move-to-front ranks, each written over the
// other (symbol_coder.cpp). ranksToColumn also counts the column for the
// inverse transform.
void moveToFrontRanks(uint8_t *column, int32_t blockLast);
void ranksToColumn(DecodedColumn &decoded);

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
