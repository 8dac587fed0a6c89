// Operations in two threads give what one thread gives: the same bytes and
// the same progress messages, for one, two and many blocks; and a failure in
// either thread ends the operation cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "block_pipeline.h"
#include "decoder_driver.h"
#include "run_precoder.h"
#include "test_support.h"
#include "vek_codec.h"
#include "window_messages.h"

using namespace testsupport;

namespace {

// Sets VEK_THREADS for the life of the object.
struct Threads {
    explicit Threads(const char *count) { setenv("VEK_THREADS", count, 1); }
    ~Threads() { unsetenv("VEK_THREADS"); }
};

struct Result {
    Bytes coded, restored, loaded;
    std::vector<intptr_t> progress;
};

// The percentages an encode reports, in the order the object posts them
// (a repeat of the one before is not posted).
struct PostedOrder final : ProgressSink {
    std::vector<intptr_t> values;
    void report(int32_t percentDone) override {
        if (values.empty() || values.back() != percentDone) values.push_back(percentDone);
    }
};

// Encodes, decodes and loads `picture` with blocks of `blockFactor` units
// (0: chosen from the size, through the object's own encode and its
// progress messages), collecting the progress.
Result runAll(const Bytes &picture, uint32_t blockFactor) {
    Result r;
    VekCodec codec;
    uint32_t size = 0;
    if (blockFactor != 0) {
        PostedOrder progress;
        EXPECT_EQ(encodeInBlocks(codec, picture, blockFactor, &r.coded, &progress), 1);
        r.progress = progress.values;
        size = static_cast<uint32_t>(r.coded.size());
    } else {
        testsupport::MessageTarget window;
        codec.setProgressTarget(window.handle(), 0x8002, 0);
        r.coded.resize(codec.getEncodeBound(static_cast<uint32_t>(picture.size())));
        size = static_cast<uint32_t>(r.coded.size());
        EXPECT_EQ(codec.encodeMemory(picture.data(), static_cast<uint32_t>(picture.size()), r.coded.data(), &size), 1);
        r.coded.resize(size);
        platform::PostedMessage m;
        while (platform::peekMessage(window.handle(), &m)) r.progress.push_back(m.lParam);
    }

    r.restored.resize(codec.getDecodedSize(r.coded.data(), size));
    uint32_t restoredSize = static_cast<uint32_t>(r.restored.size());
    EXPECT_EQ(codec.decodeMemory(r.coded.data(), size, r.restored.data(), &restoredSize), 1);
    EXPECT_EQ(codec.loadMemory(r.coded.data(), size), 1);
    r.loaded.assign(codec.getImage(), codec.getImage() + codec.getImageLength());
    return r;
}

// A picture with long runs (so that progress is posted) between photo rows.
Bytes runsAndPhoto(uint32_t width, uint32_t height, uint32_t seed) {
    Bytes pixels = smoothPixels(width, height, 24, seed);
    const uint32_t row = bmpRowBytes(width, 24);
    for (uint32_t y = 0; y < height; y += 3)
        for (uint32_t x = 0; x < row / 2; ++x) pixels[y * row + x] = static_cast<uint8_t>(y);
    return makeBmp(static_cast<int32_t>(width), static_cast<int32_t>(height), 24, Bytes(), pixels);
}

// Threads of this process now (Linux), -1 where it cannot be told.
int threadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 8, "Threads:") == 0) return std::atoi(line.c_str() + 8);
    return -1;
}

// Processor load readings of a test: the first `unknownReadings` after the
// first one come 5 ms apart (too short a stretch to tell), the later ones
// a second apart, each with `freePerSecond` processors' worth of idle and
// own time.
struct LoadScript {
    static int unknownReadings;
    static double freePerSecond;
    static int readings;
    static platform::LoadReading read() {
        static platform::LoadReading last;
        if (readings++ == 0) last = platform::LoadReading();
        const double step = readings <= unknownReadings + 1 ? 0.005 : 1.0;
        last.clock += step;
        last.idleStep = 0.01;
        last.idle += step * (freePerSecond - 1);
        last.ownTime += step;
        last.valid = true;
        return last;
    }
    static void start(int unknown, double free) {
        unknownReadings = unknown;
        freePerSecond = free;
        readings = 0;
    }
};
int LoadScript::unknownReadings;
double LoadScript::freePerSecond;
int LoadScript::readings;

// Decodes a .vek stream into a BMP file's bytes through a decoder context
// whose load readings come from LoadScript; *requests: its memory requests.
Bytes decodeWithScript(const Bytes &coded, uint32_t *requests) {
    MemorySource input(coded.data(), coded.size());
    VekFileHeader header;
    EXPECT_EQ(readStreamHeader(input, &header), VEK_FAILURE_NONE);
    Bytes bmp(dataSizeOf(header) + BMP_HEADERS_SIZE);
    MemorySink output(bmp.data(), bmp.size());
    WorkMemory memory;
    DecoderContext context(memory, ThreadSetting{2, false}, LoadScript::read);
    context.decodeToFile(header, input, output);
    EXPECT_EQ(memory.liveBlocks(), 0);
    *requests = memory.requests();
    return bmp;
}

} // namespace

// A decode allowed two threads starts the second one at the block where
// the readings first show a processor free for it, and not at all where
// they show the processors busy with other work; the bytes are the same.
TEST(Pipeline, BusyProcessorsLeaveTheDecodeToOneThread) {
    const Bytes picture = runsAndPhoto(300, 200, 3);
    VekCodec codec;
    Bytes coded;
    ASSERT_EQ(encodeInBlocks(codec, picture, 1, &coded), 1);
    const Bytes data(picture.begin() + 54, picture.end());
    const int threadsBefore = threadCount();
    // Told after the first block, or after a later even or odd one (the
    // pipeline's block 0 then sits in the first column buffer either way).
    for (int unknown : {0, 1, 2, 3}) {
        uint32_t requests[2];
        for (int free : {1, 2}) {
            SCOPED_TRACE(std::to_string(unknown) + " unknown readings, free " + std::to_string(free));
            LoadScript::start(unknown, free);
            const Bytes bmp = decodeWithScript(coded, &requests[free - 1]);
            EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), data);
            // The check goes on to the block where it can tell, and stops.
            EXPECT_EQ(LoadScript::readings, unknown + 2);
        }
        // Only the two-thread decode takes the second column.
        EXPECT_EQ(requests[1], requests[0] + 1);
    }
    EXPECT_EQ(threadCount(), threadsBefore) << "no thread outlives its operation";
}

// One allowed thread never takes a second one, whatever the processors;
// VEK_THREADS=2 takes it without asking them.
TEST(Pipeline, TheThreadSettingComesBeforeTheLoadReadings) {
    LoadScript::start(0, 2);
    EXPECT_EQ(ProcessorCheck(ThreadSetting{1, true}, LoadScript::read).verdict(), ProcessorCheck::BUSY);
    EXPECT_EQ(ProcessorCheck(ThreadSetting{1, false}, LoadScript::read).verdict(), ProcessorCheck::BUSY);
    const ProcessorCheck fixedTwo(ThreadSetting{2, true}, LoadScript::read);
    EXPECT_EQ(fixedTwo.verdict(), ProcessorCheck::FREE);
    EXPECT_TRUE(fixedTwo.forced());
    EXPECT_EQ(LoadScript::readings, 0);
    const ProcessorCheck measured(ThreadSetting{2, false}, LoadScript::read);
    EXPECT_EQ(measured.verdict(), ProcessorCheck::FREE);
    EXPECT_FALSE(measured.forced());
}

// A sorting thread finds the ranks of a block only while the coding thread
// is still busy before it; once block k - 1 is released, the coder waits
// for block k.
TEST(Pipeline, ProducersTellWhetherTheConsumerWaitsForTheirBlock) {
    BlockPipeline pipeline;
    for (uint32_t k = 0; k < 2; ++k) {
        ASSERT_TRUE(pipeline.waitForTurn(k));
        pipeline.passTurn(k, k == 1);
        pipeline.publish(k);
    }
    EXPECT_FALSE(pipeline.consumerBehind(0));
    EXPECT_TRUE(pipeline.consumerBehind(1));
    ASSERT_TRUE(pipeline.waitForBlock(0));
    pipeline.release();
    EXPECT_FALSE(pipeline.consumerBehind(1));
}

TEST(Pipeline, TwoThreadsGiveTheBytesAndProgressOfOne) {
    struct Case {
        const char *what;
        Bytes picture;
        uint32_t blockFactor;
    };
    const Case cases[] = {
        {"one block", runsAndPhoto(120, 90, 1), 0},
        {"two blocks", runsAndPhoto(700, 1100, 2), 0},
        {"many blocks", runsAndPhoto(300, 200, 3), 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Result one, two;
        {
            Threads threads("1");
            one = runAll(c.picture, c.blockFactor);
        }
        {
            Threads threads("2");
            two = runAll(c.picture, c.blockFactor);
        }
        EXPECT_GT(one.progress.size(), 2u);
        EXPECT_TRUE(one.coded == two.coded);
        EXPECT_EQ(one.progress, two.progress);
        EXPECT_TRUE(one.restored == two.restored);
        EXPECT_TRUE(one.loaded == two.loaded);
        EXPECT_EQ(Bytes(one.restored.begin() + 54, one.restored.begin() + static_cast<long>(c.picture.size())),
                  Bytes(c.picture.begin() + 54, c.picture.end()));
    }
}

// Damaged data met by the symbol decoder while the second thread inverts
// and writes earlier blocks: 0, nothing held, no thread left behind. (Out of
// memory in either thread: WorkBuffers.OutOfMemoryAtAnyRequestFailsCleanly.)
TEST(Pipeline, DamageMetWhileTheSecondThreadWorksEndsCleanly) {
    Threads threads("2");
    const Bytes picture = runsAndPhoto(200, 120, 5);
    VekCodec codec;
    Bytes coded;
    ASSERT_EQ(encodeInBlocks(codec, picture, 1, &coded), 1);
    const uint32_t codedSize = static_cast<uint32_t>(coded.size());
    Bytes bmp(codec.getDecodedSize(coded.data(), codedSize));
    const int threadsBefore = threadCount();
    for (uint32_t cut : {codedSize / 2, codedSize - 3}) {
        uint32_t size = static_cast<uint32_t>(bmp.size());
        EXPECT_EQ(codec.decodeMemory(coded.data(), cut, bmp.data(), &size), 0) << cut;
        EXPECT_TRUE(holdsNothing(codec));
        EXPECT_EQ(codec.loadMemory(coded.data(), cut), 0) << cut;
        EXPECT_TRUE(holdsNothing(codec));
    }
    EXPECT_EQ(threadCount(), threadsBefore) << "no thread outlives its operation";
    uint32_t size = static_cast<uint32_t>(bmp.size());
    EXPECT_EQ(codec.decodeMemory(coded.data(), codedSize, bmp.data(), &size), 1);
}

// The system's load readings, taken 60 ms apart while this thread keeps a
// processor busy: present where the system gives them, moving forward, and
// within the machine's processors.
TEST(Pipeline, ProcessorLoadReadingsAreSane) {
    const platform::LoadReading from = platform::readProcessorLoad();
    if (!from.valid) GTEST_SKIP() << "the system gives no load readings";
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(60);
    volatile uint64_t spin = 0;
    while (std::chrono::steady_clock::now() < until) spin = spin + 1;
    const platform::LoadReading to = platform::readProcessorLoad();
    ASSERT_TRUE(to.valid);
    EXPECT_GE(to.clock - from.clock, 0.06);
    EXPECT_LT(to.clock - from.clock, 60.0);
    EXPECT_GT(to.ownTime, from.ownTime);
    EXPECT_GE(to.idle, from.idle);
    const double free = platform::processorsFreeForThread(from, to);
    EXPECT_GE(free, 0.0);
    EXPECT_LE(free, std::thread::hardware_concurrency() + 1.0);
}
