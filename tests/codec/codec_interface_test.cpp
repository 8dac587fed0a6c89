// The library as its callers see it: loaded at run time by name, the two
// exports, the operations by their slot position, and the object's work
// buffers between operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "module_loader.h"
#include "window_messages.h"
#include "block_sort.h"
#include "encoder_driver.h"
#include "test_support.h"
#include "vek/vek.h"
#include "vek_codec.h"
#include "work_buffers.h"

using namespace testsupport;

namespace {

// An 8-bit picture of 5 x 3 pixels with a 256-entry colour table: every
// accessor gives a different value (height 3, width 5, stride 8, 8 bits).
Bytes smallPalettePicture() {
    Bytes palette(1024);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i / 4);
    return makeBmp(5, 3, 8, palette, randomBytes(24, 9));
}

class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        module = platform::loadLibrary(VEK_LIBRARY_NAME);
        ASSERT_NE(module, nullptr) << "libvek.so beside the test program";
        construct = reinterpret_cast<VekConstructorFn>(platform::getProcAddress(module, "VEK_Constructor"));
        destroy = reinterpret_cast<VekDestructorFn>(platform::getProcAddress(module, "VEK_Destructor"));
        ASSERT_NE(construct, nullptr);
        ASSERT_NE(destroy, nullptr);
    }
    void TearDown() override { platform::freeLibrary(module); }

    platform::ModuleHandle module = nullptr;
    VekConstructorFn construct = nullptr;
    VekDestructorFn destroy = nullptr;
};

// Calls the operation in slot `n` of the object's table with `Args`. On
// 32-bit Windows the operations are member functions of the platform's
// convention: `this` in ECX, the arguments popped by the callee.
#if defined(_WIN32) && defined(__i386__)
#define VEK_MEMBER_CALL __attribute__((thiscall))
#else
#define VEK_MEMBER_CALL
#endif
template <typename R, typename... Args> R callSlot(VekCodecInterface *codec, int n, Args... args) {
    void **table = *reinterpret_cast<void ***>(codec);
    return reinterpret_cast<R(VEK_MEMBER_CALL *)(VekCodecInterface *, Args...)>(table[n])(codec, args...);
}

} // namespace

TEST_F(LoadedLibrary, ExportsOnlyTheTwoEntryPoints) {
#if !defined(_WIN32)
    // Every symbol the library defines in its dynamic table, as the binary
    // tools read them from the file. (VEK.DLL's export table is checked by
    // tests/windows/check_pe_tables.sh.)
    const RunResult r = run("nm -D --defined-only --format=just-symbols " + quote(std::string(VEK_BIN_DIR) + "/libvek.so"));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, "VEK_Constructor\nVEK_Destructor\n");
#endif
    destroy(nullptr);  // a null object is ignored
}

TEST_F(LoadedLibrary, OperationsAnswerInSlotOrder) {
    TempDir dir;
    const std::string bmp = dir.file("p.bmp"), vek = dir.file("p.vek"), back = dir.file("back.bmp");
    const Bytes picture = smallPalettePicture();
    writeFile(bmp, picture);

    VekCodecInterface *codec = construct();
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ((callSlot<int>(codec, 0)), 1);                                       // getVersion
    EXPECT_EQ((callSlot<uint8_t *>(codec, 6)), nullptr);                           // getImage
    EXPECT_EQ((callSlot<uint8_t *>(codec, 8)), nullptr);                           // getBits
    EXPECT_EQ((callSlot<int, const char *, const char *>(codec, 2, bmp.c_str(), vek.c_str())), 1); // encodeFile
    EXPECT_EQ((callSlot<int, const char *, const char *>(codec, 1, vek.c_str(), back.c_str())), 1); // decodeFile
    EXPECT_EQ(readFile(back).size(), picture.size());
    EXPECT_EQ((callSlot<int, const char *>(codec, 3, vek.c_str())), 1);            // loadFile
#if VEK_FILE_HEADER_BY_POINTER
    BITMAPFILEHEADER fh;
    EXPECT_EQ((callSlot<BITMAPFILEHEADER *, BITMAPFILEHEADER *>(codec, 4, &fh)), &fh); // getFileHeader
#else
    const BITMAPFILEHEADER fh = callSlot<BITMAPFILEHEADER>(codec, 4);              // getFileHeader
#endif
    EXPECT_EQ(static_cast<uint32_t>(fh.bfType), 0x4D42u);
    EXPECT_EQ(static_cast<uint32_t>(fh.bfOffBits), 1078u);
    BITMAPINFOHEADER ih;
    std::memset(&ih, 0xEE, sizeof(ih));
    callSlot<void, BITMAPINFOHEADER *>(codec, 5, &ih);                             // getInfoHeader
    EXPECT_EQ(static_cast<uint32_t>(ih.biSize), 40u);
    EXPECT_EQ(static_cast<uint32_t>(ih.biWidth), 5u);
    uint8_t *image = callSlot<uint8_t *>(codec, 6);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ((callSlot<int>(codec, 7)), 1024 + 24);                               // getImageLength
    EXPECT_EQ((callSlot<uint8_t *>(codec, 8)), image + 1024);                      // getBits
    EXPECT_EQ(0, std::memcmp(image, picture.data() + 54, 1024 + 24));
    EXPECT_EQ((callSlot<int>(codec, 9)), 3);                                       // getHeight
    EXPECT_EQ((callSlot<int>(codec, 10)), 5);                                      // getWidth
    EXPECT_EQ((callSlot<int>(codec, 11)), 8);                                      // getStride
    EXPECT_EQ((callSlot<int>(codec, 12)), 8);                                      // getBitCount
    int window = 0;
    callSlot<void, VekWindowHandle, VekMessage, VekMessageParam>(codec, 13, &window, 0x400u, 5u); // setProgressTarget
    EXPECT_EQ(static_cast<VekCodec *>(codec)->progressWindow, &window);
    EXPECT_EQ((callSlot<int>(codec, 14)), 0);                                      // clearProgressTarget
    EXPECT_EQ(static_cast<VekCodec *>(codec)->progressWindow, nullptr);

    const Bytes coded = readFile(vek);
    const uint32_t bound = callSlot<uint32_t, uint32_t>(codec, 15, static_cast<uint32_t>(picture.size())); // getEncodeBound
    ASSERT_GE(bound, coded.size());
    Bytes memory(bound);
    uint32_t size = bound;
    EXPECT_EQ((callSlot<int, const void *, uint32_t, void *, uint32_t *>(codec, 16, picture.data(),
                                                                         static_cast<uint32_t>(picture.size()),
                                                                         memory.data(), &size)), 1); // encodeMemory
    EXPECT_EQ(Bytes(memory.begin(), memory.begin() + size), coded);
    EXPECT_EQ((callSlot<uint32_t, const void *, uint32_t>(codec, 17, coded.data(), size)), picture.size()); // getDecodedSize
    size = static_cast<uint32_t>(memory.size());
    EXPECT_EQ((callSlot<int, const void *, uint32_t, void *, uint32_t *>(codec, 18, coded.data(),
                                                                         static_cast<uint32_t>(coded.size()),
                                                                         memory.data(), &size)), 1); // decodeMemory
    EXPECT_EQ(Bytes(memory.begin(), memory.begin() + size), readFile(back));
    EXPECT_EQ((callSlot<int, const void *, uint32_t>(codec, 19, coded.data(), 5)), 0);  // loadMemory
    EXPECT_EQ((callSlot<int>(codec, 20)), VEK_FAILURE_DAMAGED_VEK);                // getLastFailure
    EXPECT_EQ((callSlot<int, const void *, uint32_t>(codec, 19, coded.data(),
                                                     static_cast<uint32_t>(coded.size()))), 1);
    EXPECT_EQ((callSlot<int>(codec, 20)), VEK_FAILURE_NONE);
    EXPECT_EQ((callSlot<int>(codec, 7)), 1024 + 24);
    destroy(codec);
}

TEST_F(LoadedLibrary, EncoderProgressReachesARegisteredWindow) {
    // Rows of flat colour give runs all through the picture.
    Bytes pixels = smoothPixels(256, 256, 24, 2);
    for (size_t i = 0; i < pixels.size(); i += 2000)
        for (size_t k = 0; k < 40 && i + k < pixels.size(); ++k) pixels[i + k] = 0x55;
    TempDir dir;
    writeFile(dir.file("p.bmp"), makeBmp(256, 256, 24, Bytes(), pixels));

    MessageTarget window;
    VekCodecInterface *codec = construct();
    codec->setProgressTarget(window.handle(), 0x8123, 42);
    ASSERT_EQ(codec->encodeFile(dir.file("p.bmp").c_str(), dir.file("p.vek").c_str()), 1);
    std::vector<platform::PostedMessage> got;
    platform::PostedMessage m;
    while (platform::peekMessage(window.handle(), &m)) got.push_back(m);
    ASSERT_GE(got.size(), 5u);
    for (const platform::PostedMessage &msg : got) {
        EXPECT_EQ(msg.window, window.handle());
        EXPECT_EQ(msg.message, 0x8123u);
        EXPECT_EQ(msg.wParam, 42u);
        EXPECT_GE(msg.lParam, 0);
        EXPECT_LE(msg.lParam, 100);
    }
    EXPECT_EQ(got.back().lParam, 100);

    // Decoding reports nothing; a cleared target gets nothing either.
    ASSERT_EQ(codec->decodeFile(dir.file("p.vek").c_str(), dir.file("b.bmp").c_str()), 1);
    EXPECT_FALSE(platform::peekMessage(window.handle(), &m));
    EXPECT_EQ(codec->clearProgressTarget(), 0);
    ASSERT_EQ(codec->encodeFile(dir.file("p.bmp").c_str(), dir.file("q.vek").c_str()), 1);
    EXPECT_FALSE(platform::peekMessage(window.handle(), &m));
    destroy(codec);
}

TEST(CodecObject, FreshObjectAnswersSafely) {
    VekCodecInterface *codec = VEK_Constructor();
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(codec->getImage(), nullptr);
    EXPECT_EQ(codec->getBits(), nullptr);
    EXPECT_EQ(codec->getImageLength(), 0);
    TempDir dir;
    EXPECT_EQ(codec->loadFile(dir.file("missing.vek").c_str()), 0);
    EXPECT_EQ(codec->getImage(), nullptr);
    EXPECT_EQ(codec->encodeFile(nullptr, nullptr), 0);
    VEK_Destructor(codec);
}

namespace {

// A picture or stream in memory whose reads fail from byte `failAt` on.
class FailingSource final : public ByteSource {
public:
    FailingSource(const Bytes &bytes, size_t failAt) : bytes_(bytes), failAt_(failAt) {}
    bool read(void *buffer, size_t count, size_t *got) override {
        const size_t n = std::min(count, bytes_.size() - position_);
        if (position_ + n > failAt_) return false;
        std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += n;
        *got = n;
        return true;
    }
    bool seekTo(uint64_t offset) override {
        if (offset > bytes_.size()) return false;
        position_ = static_cast<size_t>(offset);
        return true;
    }
    int64_t size() override { return static_cast<int64_t>(bytes_.size()); }

private:
    const Bytes &bytes_;
    size_t failAt_;
    size_t position_ = 0;
};

} // namespace

// The refusals that no file or picture brings about: calls the codec cannot
// serve and inputs that cannot be read. Each names its own reason.
TEST(CodecObject, BadCallsAndReadErrorsNameTheirReason) {
    VekCodec codec;
    const Bytes picture = smallPalettePicture();
    const uint32_t size = static_cast<uint32_t>(picture.size());
    Bytes coded(codec.getEncodeBound(size));
    uint32_t codedSize = static_cast<uint32_t>(coded.size());
    ASSERT_EQ(codec.encodeMemory(picture.data(), size, coded.data(), &codedSize), 1);
    coded.resize(codedSize);
    Bytes out(1 << 16);
    uint32_t outSize = static_cast<uint32_t>(out.size());
    uint32_t inPlace = size;
    Bytes same = picture;

    const std::pair<const char *, std::function<int()>> calls[] = {
        {"encodeFile without names", [&] { return codec.encodeFile(nullptr, nullptr); }},
        {"decodeFile without names", [&] { return codec.decodeFile(nullptr, "x.bmp"); }},
        {"loadFile without a name", [&] { return codec.loadFile(nullptr); }},
        {"encodeMemory without input", [&] { return codec.encodeMemory(nullptr, size, out.data(), &outSize); }},
        {"encodeMemory without a size", [&] { return codec.encodeMemory(picture.data(), size, out.data(), nullptr); }},
        {"encodeMemory in place", [&] { return codec.encodeMemory(same.data(), size, same.data(), &inPlace); }},
        {"getDecodedSize without input", [&] { return static_cast<int>(codec.getDecodedSize(nullptr, 12)); }},
        {"decodeMemory without a size",
         [&] { return codec.decodeMemory(coded.data(), codedSize, out.data(), nullptr); }},
        {"loadMemory without input", [&] { return codec.loadMemory(nullptr, codedSize); }},
    };
    for (const auto &call : calls) {
        SCOPED_TRACE(call.first);
        EXPECT_EQ(call.second(), 0);
        EXPECT_EQ(codec.getLastFailure(), VEK_FAILURE_ARGUMENTS);
    }
    EXPECT_EQ(codec.getEncodeBound(53), 0u);
    EXPECT_EQ(codec.getLastFailure(), VEK_FAILURE_NOT_BMP);
    EXPECT_GT(codec.getEncodeBound(size), 0u);
    EXPECT_EQ(codec.getLastFailure(), VEK_FAILURE_NONE);

    // Reads that fail: in the header check, in the picture's data, in a
    // .vek stream's header and in its coded data.
    FailingSource headers(picture, 20);
    AcceptedBitmap accepted;
    EXPECT_EQ(checkBitmapHeader(headers, &accepted), VEK_FAILURE_READ);
    FailingSource data(picture, 60);
    MemorySink sink(out.data(), out.size());
    try {
        codec.encodeStream(data, sink);
        ADD_FAILURE() << "the encode went on past a failed read";
    } catch (const VekFailure &failure) {
        EXPECT_EQ(failure.reason, VEK_FAILURE_READ);
    }
    EXPECT_TRUE(holdsNothing(codec));
    for (size_t failAt : {size_t(5), coded.size() - 3}) {
        SCOPED_TRACE(failAt);
        FailingSource stream(coded, failAt);
        EXPECT_EQ(codec.loadStream(stream), 0);
        EXPECT_EQ(codec.getLastFailure(), VEK_FAILURE_READ);
    }
}

TEST(CodecObject, StrideRoundsTheWidthUpToFour) {
    auto codec = std::make_unique<VekCodec>();
    const int widths[][2] = {{0, 0}, {1, 4}, {3, 4}, {4, 4}, {5, 8}, {65535, 65536}};
    for (const auto &w : widths) {
        codec->header.width = static_cast<uint16_t>(w[0]);
        EXPECT_EQ(codec->getStride(), w[1]) << w[0];
    }
}

TEST(WorkBuffers, NothingStaysAllocatedBetweenOperations) {
    TempDir dir;
    const std::string bmp = dir.file("p.bmp"), vek = dir.file("p.vek"), back = dir.file("b.bmp");
    writeFile(bmp, makeBmp(300, 200, 24, Bytes(), smoothPixels(300, 200, 24, 1)));
    auto first = std::make_unique<VekCodec>();
    ASSERT_EQ(first->encodeFile(bmp.c_str(), vek.c_str()), 1);
    EXPECT_TRUE(holdsNothing(*first));

    // A second object made between two operations of the first one does not
    // disturb its next operation.
    VekCodecInterface *second = VEK_Constructor();
    EXPECT_TRUE(holdsNothing(*static_cast<VekCodec *>(second)));
    ASSERT_EQ(first->decodeFile(vek.c_str(), back.c_str()), 1);
    EXPECT_TRUE(holdsNothing(*first));
    ASSERT_EQ(second->loadFile(vek.c_str()), 1);
    EXPECT_TRUE(holdsNothing(*static_cast<VekCodec *>(second)));
    VEK_Destructor(second);

    // A damaged stream releases everything on its way out.
    Bytes damaged = readFile(vek);
    damaged.resize(damaged.size() / 2);
    writeFile(vek, damaged);
    EXPECT_EQ(first->decodeFile(vek.c_str(), back.c_str()), 0);
    EXPECT_TRUE(holdsNothing(*first));
    EXPECT_EQ(first->loadFile(vek.c_str()), 0);
    EXPECT_TRUE(holdsNothing(*first));
}

TEST(WorkBuffers, BlocksFreeTheirBuffersOnTheFailurePath) {
    WorkMemory memory;
    try {
        EncoderBlock encoder(memory, 3 * BLOCK_UNIT);
        DecoderBlock decoder(memory, 255 * BLOCK_UNIT);
        EXPECT_EQ(memory.liveBlocks(), 7);
        failureExit(VEK_FAILURE_DAMAGED_VEK);
    } catch (const VekFailure &failure) {
        EXPECT_EQ(failure.reason, VEK_FAILURE_DAMAGED_VEK);
    }
    EXPECT_EQ(memory.liveBlocks(), 0);
}

namespace {

// A 24-bit picture whose data bytes, with the end marker after them, are
// one root repeated: the block sort's path for repetitive blocks.
Bytes periodicPicture() {
    const uint8_t root[] = {1, 2, 3, 4, 0x7F};
    Bytes pixels(12 * 1002);  // 4 pixels a row: N = 12,024, one short of 2,405 roots
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = root[i % 5];
    return makeBmp(4, 1002, 24, Bytes(), pixels);
}

} // namespace

// Out of memory at any one request of an encode, a decode or a load, in one
// thread and in two (the sort's, the inverse's and the image's requests are
// then made in the second thread): the operation returns 0, holds nothing
// afterwards, and the object works on.
TEST(WorkBuffers, OutOfMemoryAtAnyRequestFailsCleanly) {
    struct Case {
        Bytes picture;
        uint32_t blockFactor;  // 0: chosen from the size
        const char *threads;
    };
    const Case cases[] = {{makeBmp(200, 100, 24, Bytes(), smoothPixels(200, 100, 24, 7)), 0, "1"},
                          {periodicPicture(), 0, "1"},
                          {makeBmp(200, 120, 24, Bytes(), smoothPixels(200, 120, 24, 8)), 2, "2"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.picture.size());
        setenv("VEK_THREADS", c.threads, 1);
        auto fresh = [] { return std::make_unique<VekCodec>(); };
        const Bytes &picture = c.picture;
        const uint32_t bmpSize = static_cast<uint32_t>(picture.size());
        // Through the object's encode, or in more blocks through an encoder
        // context over its memory.
        auto encode = [&](VekCodec &codec, Bytes *out) {
            if (c.blockFactor != 0) return encodeInBlocks(codec, picture, c.blockFactor, out);
            out->resize(codec.getEncodeBound(bmpSize));
            uint32_t size = static_cast<uint32_t>(out->size());
            const int result = codec.encodeMemory(picture.data(), bmpSize, out->data(), &size);
            if (result != 0) out->resize(size);
            return result;
        };
        auto probe = fresh();
        Bytes coded;
        ASSERT_EQ(encode(*probe, &coded), 1);
        const uint32_t codedSize = static_cast<uint32_t>(coded.size());
        const uint32_t encodeRequests = probe->memory.requests();
        Bytes restored(probe->getDecodedSize(coded.data(), codedSize));
        uint32_t restoredSize = static_cast<uint32_t>(restored.size());
        ASSERT_EQ(probe->decodeMemory(coded.data(), codedSize, restored.data(), &restoredSize), 1);
        const uint32_t decodeRequests = probe->memory.requests() - encodeRequests;
        ASSERT_EQ(probe->loadMemory(coded.data(), codedSize), 1);
        const uint32_t loadRequests = probe->memory.requests() - encodeRequests - decodeRequests;
        EXPECT_GE(encodeRequests, 4u) << "at least the four work buffers";
        EXPECT_GE(decodeRequests, 3u) << "at least the three work buffers";
        EXPECT_GE(loadRequests, decodeRequests + 1) << "and the picture image";

        for (uint32_t k = 1; k <= encodeRequests; ++k) {
            auto codec = fresh();
            codec->memory.failRequest = k;
            Bytes out;
            EXPECT_EQ(encode(*codec, &out), 0) << "request " << k;
            EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OUT_OF_MEMORY) << "request " << k;
            EXPECT_TRUE(holdsNothing(*codec)) << "request " << k;
            EXPECT_EQ(encode(*codec, &out), 1);
            EXPECT_EQ(out, coded);
        }
        for (uint32_t k = 1; k <= loadRequests; ++k) {
            auto codec = fresh();
            codec->memory.failRequest = k;
            Bytes out(restored.size());
            uint32_t size = restoredSize;
            if (k <= decodeRequests) {
                EXPECT_EQ(codec->decodeMemory(coded.data(), codedSize, out.data(), &size), 0) << "request " << k;
                EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OUT_OF_MEMORY) << "request " << k;
                EXPECT_TRUE(holdsNothing(*codec)) << "request " << k;
                EXPECT_EQ(codec->decodeMemory(coded.data(), codedSize, out.data(), &size), 1);
                EXPECT_EQ(out, restored);
                codec->memory.failRequest = codec->memory.requests() + k;
            }
            EXPECT_EQ(codec->loadMemory(coded.data(), codedSize), 0) << "request " << k;
            EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OUT_OF_MEMORY) << "request " << k;
            EXPECT_EQ(codec->getImage(), nullptr);
            EXPECT_TRUE(holdsNothing(*codec)) << "request " << k;
        }
        unsetenv("VEK_THREADS");
    }
}
