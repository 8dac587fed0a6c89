// The codec's memory operations for JavaScript, as plain C functions of the
// WebAssembly module. Each operation works on one input range in the
// module's memory and leaves its output in a result buffer owned here (valid
// until the next operation or vekweb_release), with its description in
// vekweb_info(). A failed operation returns 0 and leaves the codec's failure
// code in vekweb_info()[0]; vekweb_failure_text gives its words.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vek/vek.h"
#include "vek/vek_failures.h"
#include "decoder_driver.h"
#include "vek_format.h"
#include "window_messages.h"

// An encode's percentages go to the module's onProgress function, when the
// caller has set one.
EM_JS(void, vekweb_report_progress, (int percent), {
    if (Module.onProgress) Module.onProgress(percent);
});

namespace {

// Slots of the info array read by JavaScript.
enum InfoSlot {
    INFO_FAILURE,
    INFO_SIZE,      // bytes in the result buffer
    INFO_WIDTH,
    INFO_HEIGHT,
    INFO_BIT_COUNT,
    INFO_COLORS,    // colour-table entries
    INFO_BMP_SIZE,  // size of the BMP file the .vek data restore
    INFO_SLOTS
};

int32_t info[INFO_SLOTS];
uint8_t *result = nullptr;

// The codec posts an encode's progress to a message window, whose messages
// are handed on as they come: the encode runs in this thread, which the
// notifier is called from.
platform::WindowHandle progressWindow;

void deliverProgress(void *) {
    platform::PostedMessage message;
    while (platform::peekMessage(progressWindow, &message)) vekweb_report_progress(static_cast<int>(message.lParam));
}

VekCodecInterface &codec() {
    static VekCodecInterface *object = [] {
        VekCodecInterface *c = VEK_Constructor();
        progressWindow = platform::createMessageWindow(deliverProgress, nullptr);
        c->setProgressTarget(progressWindow, 0, 0);
        return c;
    }();
    return *object;
}

void releaseResult() {
    std::free(result);
    result = nullptr;
    info[INFO_SIZE] = 0;
}

int fail(int code) {
    releaseResult();
    info[INFO_FAILURE] = code;
    return 0;
}

bool takeResult(uint32_t bytes) {
    releaseResult();
    result = static_cast<uint8_t *>(std::malloc(bytes > 0 ? bytes : 1));
    return result != nullptr;
}

void describe(const BITMAPFILEHEADER &file, const BITMAPINFOHEADER &header) {
    info[INFO_FAILURE] = VEK_FAILURE_NONE;
    info[INFO_WIDTH] = header.biWidth;
    info[INFO_HEIGHT] = header.biHeight;
    info[INFO_BIT_COUNT] = header.biBitCount;
    info[INFO_COLORS] = static_cast<int32_t>((file.bfOffBits - BMP_HEADERS_SIZE) / 4);
    info[INFO_BMP_SIZE] = static_cast<int32_t>(file.bfSize);
}

inline uint8_t expand5(uint32_t v) {
    return static_cast<uint8_t>(v * 255 / 31);
}

// The loaded picture as RGBA, top row first, fully opaque. Rows are read
// at the BMP row size of the picture's bit count, as any BMP reader reads
// the restored file; 16 bits are 5-5-5, a colour index beyond the table
// shows black.
void toRgba(const uint8_t *table, uint32_t colors, const uint8_t *bits, uint32_t width, uint32_t height,
            uint32_t bitCount, uint8_t *out) {
    const size_t rowBytes = (size_t(width) * bitCount + 31) / 32 * 4;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *row = bits + (height - 1 - y) * rowBytes;
        uint8_t *o = out + size_t(y) * width * 4;
        for (uint32_t x = 0; x < width; ++x, o += 4) {
            switch (bitCount) {
            case 8: {
                const uint32_t index = row[x];
                if (index < colors) {
                    const uint8_t *q = table + index * 4;
                    o[0] = q[2], o[1] = q[1], o[2] = q[0];
                } else {
                    o[0] = o[1] = o[2] = 0;
                }
                break;
            }
            case 16: {
                const uint32_t v = row[2 * x] | uint32_t(row[2 * x + 1]) << 8;
                o[0] = expand5(v >> 10 & 31), o[1] = expand5(v >> 5 & 31), o[2] = expand5(v & 31);
                break;
            }
            default: {  // 24 and 32: blue, green, red (and an unused byte)
                const uint8_t *p = row + x * (bitCount / 8);
                o[0] = p[2], o[1] = p[1], o[2] = p[0];
            }
            }
            o[3] = 255;
        }
    }
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int32_t *vekweb_info() {
    return info;
}

EMSCRIPTEN_KEEPALIVE uint8_t *vekweb_result() {
    return result;
}

EMSCRIPTEN_KEEPALIVE void vekweb_release() {
    releaseResult();
}

EMSCRIPTEN_KEEPALIVE const char *vekweb_failure_text(int code) {
    return vekFailureText(code);
}

// BMP file bytes to .vek file bytes.
EMSCRIPTEN_KEEPALIVE int vekweb_encode(const uint8_t *bmp, uint32_t bmpSize) {
    VekCodecInterface &c = codec();
    const uint32_t bound = c.getEncodeBound(bmpSize);
    if (bound == 0) return fail(c.getLastFailure());
    if (!takeResult(bound)) return fail(VEK_FAILURE_OUT_OF_MEMORY);
    uint32_t size = bound;
    if (!c.encodeMemory(bmp, bmpSize, result, &size)) return fail(c.getLastFailure());
    info[INFO_FAILURE] = VEK_FAILURE_NONE;
    info[INFO_SIZE] = static_cast<int32_t>(size);
    return 1;
}

// The picture described by the 12-byte header of .vek bytes, nothing decoded.
EMSCRIPTEN_KEEPALIVE int vekweb_read_header(const uint8_t *vek, uint32_t vekSize) {
    if (vek == nullptr) return fail(VEK_FAILURE_ARGUMENTS);
    MemorySource source(vek, vekSize);
    VekFileHeader header;
    const int failure = readStreamHeader(source, &header);
    if (failure != VEK_FAILURE_NONE) return fail(failure);
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER bitmap;
    restoredBitmapHeaders(header, &file, &bitmap);
    releaseResult();
    describe(file, bitmap);
    return 1;
}

// .vek file bytes to BMP file bytes.
EMSCRIPTEN_KEEPALIVE int vekweb_decode(const uint8_t *vek, uint32_t vekSize) {
    if (!vekweb_read_header(vek, vekSize)) return 0;
    VekCodecInterface &c = codec();
    uint32_t size = static_cast<uint32_t>(info[INFO_BMP_SIZE]);
    if (!takeResult(size)) return fail(VEK_FAILURE_OUT_OF_MEMORY);
    if (!c.decodeMemory(vek, vekSize, result, &size)) return fail(c.getLastFailure());
    info[INFO_SIZE] = static_cast<int32_t>(size);
    return 1;
}

// .vek file bytes to RGBA pixels (width x height x 4 bytes, top row first).
EMSCRIPTEN_KEEPALIVE int vekweb_decode_rgba(const uint8_t *vek, uint32_t vekSize) {
    VekCodecInterface &c = codec();
    releaseResult();
    if (!c.loadMemory(vek, vekSize)) return fail(c.getLastFailure());
    BITMAPINFOHEADER header;
    c.getInfoHeader(&header);
    describe(c.getFileHeader(), header);
    const uint32_t width = static_cast<uint32_t>(header.biWidth), height = static_cast<uint32_t>(header.biHeight);
    const uint64_t bytes = uint64_t(width) * height * 4;
    if (bytes > UINT32_MAX || !takeResult(static_cast<uint32_t>(bytes))) return fail(VEK_FAILURE_OUT_OF_MEMORY);
    toRgba(c.getImage(), static_cast<uint32_t>(info[INFO_COLORS]), c.getBits(), width, height, header.biBitCount,
           result);
    info[INFO_SIZE] = static_cast<int32_t>(bytes);
    return 1;
}

} // extern "C"
