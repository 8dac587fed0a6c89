// Regression tests for faults found after the first robustness round: an
// encode whose file no decoder could read back, the pixel pointer after a
// later decode, a failed output reached through a symbolic link, and the
// converter under a file-size limit.
#include <gtest/gtest.h>

#include <memory>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "arithmetic_coder.h"
#include "test_support.h"
#include "vek_codec.h"
#include "work_buffers.h"

using namespace testsupport;

TEST(EncoderLimit, StreamsBeyondWhatDecodersCountFailTheEncode) {
    const uint8_t header[VEK_HEADER_SIZE] = {0};
    auto encoder = std::make_unique<RangeEncoder>();
    auto codeMany = [&](uint64_t alreadyWritten) {
        StreamBuffer stream;
        encoder->start(stream.sink(), header, VEK_HEADER_SIZE);
        encoder->written = alreadyWritten;
        bool failed = false;
        try {
            for (uint32_t v = 0; v < 40000; ++v) encoder->encodeValue32(v * 2654435761u);
            encoder->finish();
        } catch (const VekFailure &failure) {
            EXPECT_EQ(failure.reason, VEK_FAILURE_TOO_LARGE);
            failed = true;
        }
        return failed;
    };
    // 160,000 coded bytes: fine from the start, too many 100,000 bytes
    // short of the limit of 2^31 - 1 coded bytes after the header.
    EXPECT_FALSE(codeMany(0));
    EXPECT_TRUE(codeMany(static_cast<uint64_t>(INT32_MAX) - 100000));
}

TEST(PixelPointer, StaysWithTheLoadedPictureAfterAnotherDecode) {
    TempDir dir;
    Bytes palette(1024, 7);
    writeFile(dir.file("a.bmp"), makeBmp(8, 8, 8, palette, randomBytes(64, 1)));
    writeFile(dir.file("b.bmp"), makeBmp(8, 8, 24, Bytes(), randomBytes(192, 2)));
    auto codec = std::make_unique<VekCodec>();
    ASSERT_EQ(codec->encodeFile(dir.file("a.bmp").c_str(), dir.file("a.vek").c_str()), 1);
    ASSERT_EQ(codec->encodeFile(dir.file("b.bmp").c_str(), dir.file("b.vek").c_str()), 1);
    ASSERT_EQ(codec->loadFile(dir.file("a.vek").c_str()), 1);
    ASSERT_EQ(codec->getBits(), codec->getImage() + 1024);
    ASSERT_EQ(codec->decodeFile(dir.file("b.vek").c_str(), dir.file("b2.bmp").c_str()), 1);
    EXPECT_EQ(codec->getBits(), codec->getImage() + 1024) << "still the loaded 8-bit picture's pixels";
}

#if !defined(_WIN32)
// Symbolic links and file-size limits of the shell: POSIX only.
TEST(FailedOutput, ThroughASymbolicLinkTheTargetIsRemoved) {
    TempDir dir;
    writeFile(dir.file("a.bmp"), makeBmp(30, 30, 24, Bytes(), randomBytes(2760, 3)));
    auto codec = std::make_unique<VekCodec>();
    ASSERT_EQ(codec->encodeFile(dir.file("a.bmp").c_str(), dir.file("a.vek").c_str()), 1);
    Bytes cut = readFile(dir.file("a.vek"));
    cut.resize(cut.size() - 30);
    writeFile(dir.file("cut.vek"), cut);
    ASSERT_EQ(::symlink(dir.file("real.bmp").c_str(), dir.file("link.bmp").c_str()), 0);
    EXPECT_EQ(codec->decodeFile(dir.file("cut.vek").c_str(), dir.file("link.bmp").c_str()), 0);
    EXPECT_FALSE(fileExists(dir.file("real.bmp"))) << "no half-written picture behind the link";
}

TEST(ConverterLimits, AFileSizeLimitIsAFailedConversionNotASignal) {
    TempDir dir;
    writeFile(dir.file("a.bmp"), makeBmp(100, 100, 24, Bytes(), randomBytes(30000, 4)));
    const RunResult r = run("ulimit -f 8; " + quote(std::string(VEK_BIN_DIR) + "/vekconv") + " e " +
                            quote(dir.file("a.bmp")) + " 2>&1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("faild...\n"), std::string::npos);
    EXPECT_FALSE(fileExists(dir.file("a.vek")));
}
#endif
