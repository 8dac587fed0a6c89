// Codec objects are independent: several threads, each with its own object,
// encode and decode different pictures at the same time, through files and
// through memory, while another thread keeps creating and destroying
// objects. Every output must be the one the same operation gives alone, and
// so must every object's sequence of progress messages.
// Built on its own so that the thread sanitizer build needs only this.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "vek_codec.h"
#include "window_messages.h"

using namespace testsupport;

namespace {

struct Expected {
    Bytes picture, coded, restored;
};

struct Outcome {
    Bytes codedByFile, restoredByFile, codedInMemory, restoredInMemory, loaded;
    int results = 0;  // operations that reported success
};

Bytes encodeAlone(const Bytes &picture) {
    VekCodec codec;
    Bytes coded(codec.getEncodeBound(static_cast<uint32_t>(picture.size())));
    uint32_t size = static_cast<uint32_t>(coded.size());
    EXPECT_EQ(codec.encodeMemory(picture.data(), static_cast<uint32_t>(picture.size()), coded.data(), &size), 1);
    coded.resize(size);
    return coded;
}

Bytes decodeAlone(const Bytes &coded) {
    VekCodec codec;
    Bytes restored(codec.getDecodedSize(coded.data(), static_cast<uint32_t>(coded.size())));
    uint32_t size = static_cast<uint32_t>(restored.size());
    EXPECT_EQ(codec.decodeMemory(coded.data(), static_cast<uint32_t>(coded.size()), restored.data(), &size), 1);
    return restored;
}

// One thread's work: every operation on its own picture with its own object,
// which posts progress to its own receiver.
void work(const Expected &e, const TempDir &dir, int id, Outcome *out) {
    VekCodecInterface *codec = VEK_Constructor();
    if (codec == nullptr) return;
    MessageTarget receiver;
    codec->setProgressTarget(receiver.handle(), 0x8000, static_cast<VekMessageParam>(id));
    const std::string bmp = dir.file("in" + std::to_string(id) + ".bmp");
    const std::string vek = dir.file("in" + std::to_string(id) + ".vek");
    const std::string back = dir.file("back" + std::to_string(id) + ".bmp");
    writeFile(bmp, e.picture);
    out->results += codec->encodeFile(bmp.c_str(), vek.c_str());
    out->codedByFile = readFile(vek);
    out->results += codec->decodeFile(vek.c_str(), back.c_str());
    out->restoredByFile = readFile(back);

    const uint32_t bmpSize = static_cast<uint32_t>(e.picture.size());
    out->codedInMemory.resize(codec->getEncodeBound(bmpSize));
    uint32_t size = static_cast<uint32_t>(out->codedInMemory.size());
    out->results += codec->encodeMemory(e.picture.data(), bmpSize, out->codedInMemory.data(), &size);
    out->codedInMemory.resize(size);
    const uint32_t vekSize = static_cast<uint32_t>(e.coded.size());
    out->restoredInMemory.resize(codec->getDecodedSize(e.coded.data(), vekSize));
    size = static_cast<uint32_t>(out->restoredInMemory.size());
    out->results += codec->decodeMemory(e.coded.data(), vekSize, out->restoredInMemory.data(), &size);
    out->results += codec->loadMemory(e.coded.data(), vekSize);
    out->loaded.assign(codec->getImage(), codec->getImage() + codec->getImageLength());
    VEK_Destructor(codec);
}

// Encodes `picture` in memory with `codec` and returns the percentages it
// posted to `window`.
std::vector<intptr_t> encodeProgress(VekCodecInterface *codec, const MessageTarget &window, const Bytes &picture) {
    Bytes coded(codec->getEncodeBound(static_cast<uint32_t>(picture.size())));
    uint32_t size = static_cast<uint32_t>(coded.size());
    EXPECT_EQ(codec->encodeMemory(picture.data(), static_cast<uint32_t>(picture.size()), coded.data(), &size), 1);
    std::vector<intptr_t> posted;
    platform::PostedMessage m;
    while (platform::peekMessage(window.handle(), &m)) posted.push_back(m.lParam);
    return posted;
}

} // namespace

TEST(IndependentObjects, EachObjectPostsItsOwnFullProgress) {
    // Long runs all through the picture: a percentage after nearly every
    // run, the same ones for both threads at nearly the same moments.
    Bytes pixels = smoothPixels(400, 300, 24, 7);
    for (size_t i = 0; i < pixels.size(); i += 1500)
        for (size_t k = 0; k < 12 && i + k < pixels.size(); ++k) pixels[i + k] = static_cast<uint8_t>(i >> 8);
    const Bytes picture = makeBmp(400, 300, 24, Bytes(), pixels);
    // Data whose only long run ends them: one message, 100.
    Bytes endRun = randomBytes(bmpRowBytes(64, 8) * 63, 9);
    endRun.resize(bmpRowBytes(64, 8) * 64, 0xAA);
    const Bytes lastOnly = makeBmp(64, 64, 8, randomBytes(1024, 11), endRun);

    std::vector<intptr_t> alone, lastAlone;
    {
        MessageTarget window;
        VekCodecInterface *codec = VEK_Constructor();
        codec->setProgressTarget(window.handle(), 0x8000, 0);
        alone = encodeProgress(codec, window, picture);
        VEK_Destructor(codec);
        codec = VEK_Constructor();
        codec->setProgressTarget(window.handle(), 0x8000, 0);
        lastAlone = encodeProgress(codec, window, lastOnly);
        VEK_Destructor(codec);
    }
    ASSERT_GT(alone.size(), 50u);
    ASSERT_EQ(lastAlone, std::vector<intptr_t>{100});

    // Two objects encode at once, again and again; then two fresh objects
    // both post the same single percentage: it is each one's first, so
    // each must post it.
    const int ROUNDS = 4;
    std::vector<std::vector<intptr_t>> posted[2];
    // Both threads start each round together.
    std::mutex lock;
    std::condition_variable arrived;
    int arrivals = 0;
    auto together = [&] {
        std::unique_lock<std::mutex> guard(lock);
        const int meeting = arrivals++ / 2;
        arrived.notify_all();
        arrived.wait(guard, [&] { return arrivals >= 2 * (meeting + 1); });
    };
    auto encodeAtOnce = [&](int id) {
        MessageTarget window;
        VekCodecInterface *codec = VEK_Constructor();
        codec->setProgressTarget(window.handle(), 0x8000, static_cast<VekMessageParam>(id));
        for (int round = 0; round < ROUNDS; ++round) {
            together();
            posted[id].push_back(encodeProgress(codec, window, picture));
        }
        VEK_Destructor(codec);
        together();
        codec = VEK_Constructor();
        codec->setProgressTarget(window.handle(), 0x8000, static_cast<VekMessageParam>(id));
        posted[id].push_back(encodeProgress(codec, window, lastOnly));
        VEK_Destructor(codec);
    };
    std::thread first(encodeAtOnce, 0), second(encodeAtOnce, 1);
    first.join();
    second.join();
    for (int id = 0; id < 2; ++id) {
        SCOPED_TRACE(id);
        ASSERT_EQ(posted[id].size(), static_cast<size_t>(ROUNDS + 1));
        for (int round = 0; round < ROUNDS; ++round) EXPECT_EQ(posted[id][round], alone) << "round " << round;
        EXPECT_EQ(posted[id][ROUNDS], lastAlone);
    }
}

TEST(IndependentObjects, ConcurrentOperationsMatchTheSameOperationsRunAlone) {
    Bytes grey(1024);
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i / 4);
    std::vector<Expected> expected;
    for (const Bytes &picture : {makeBmp(700, 1100, 24, Bytes(), smoothPixels(700, 1100, 24, 1)),  // two blocks
                                 makeBmp(301, 217, 8, grey, smoothPixels(301, 217, 8, 2)),
                                 makeBmp(123, 77, 16, Bytes(), randomBytes(bmpRowBytes(123, 16) * 77, 3, 5)),
                                 makeBmp(255, 100, 32, Bytes(), smoothPixels(255, 100, 32, 4))}) {
        Expected e{picture, encodeAlone(picture), Bytes()};
        e.restored = decodeAlone(e.coded);
        expected.push_back(e);
    }

    TempDir dir;
    std::vector<Outcome> outcomes(expected.size());
    std::atomic<bool> done{false};
    std::atomic<int> churned{0};
    std::thread churn([&] {
        // Objects come and go while the others work.
        while (!done.load()) {
            VekCodecInterface *codec = VEK_Constructor();
            VEK_Destructor(codec);
            churned.fetch_add(1);
        }
    });
    std::vector<std::thread> workers;
    for (size_t i = 0; i < expected.size(); ++i)
        workers.emplace_back(work, std::cref(expected[i]), std::cref(dir), static_cast<int>(i), &outcomes[i]);
    for (std::thread &t : workers) t.join();
    done = true;
    churn.join();

    EXPECT_GT(churned.load(), 0);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const Expected &e = expected[i];
        const Outcome &o = outcomes[i];
        EXPECT_EQ(o.results, 5);
        EXPECT_TRUE(o.codedByFile == e.coded);
        EXPECT_TRUE(o.codedInMemory == e.coded);
        EXPECT_TRUE(o.restoredByFile == e.restored);
        EXPECT_TRUE(o.restoredInMemory == e.restored);
        EXPECT_TRUE(o.loaded == Bytes(e.restored.begin() + 54, e.restored.end()));
    }
}
