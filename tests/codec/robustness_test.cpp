// What users run into: a full disk, paths that cannot be used, one file under
// two names, unusual names, and damaged or hostile .vek files. Each case must
// end in a clean refusal or failure (result 0, no work buffer left, no output
// that looks like a finished file), or in a picture of exactly the size its
// header declares.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"
#include "vek/vek_failures.h"
#include "vek_codec.h"
#include "vek_format.h"
#include "work_buffers.h"

using namespace testsupport;

// --- Largest single allocation while armed ---------------------------------
//
// The hostile-header tests need to know how much the codec asked for. Under
// the address sanitizer its allocator hooks report every request; otherwise
// malloc and realloc of this program are wrapped around the C library's.
namespace allocwatch {

std::atomic<bool> armed{false};
std::atomic<size_t> largest{0};

void note(size_t bytes) {
    if (!armed.load(std::memory_order_relaxed)) return;
    size_t seen = largest.load(std::memory_order_relaxed);
    while (bytes > seen && !largest.compare_exchange_weak(seen, bytes, std::memory_order_relaxed)) {
    }
}

// Runs `operation` and returns the largest request it made.
size_t largestRequestOf(const std::function<void()> &operation) {
    largest = 0;
    armed = true;
    operation();
    armed = false;
    return largest;
}

} // namespace allocwatch

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEK_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VEK_TEST_ASAN 1
#endif

#ifdef VEK_TEST_ASAN
// From the sanitizer runtime's allocator interface (not every compiler ships
// its header).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*onAllocation)(const volatile void *, size_t),
                                                         void (*onRelease)(const volatile void *));
namespace {
void onAllocation(const volatile void *, size_t bytes) {
    allocwatch::note(bytes);
}
void onRelease(const volatile void *) {}
const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(onAllocation, onRelease);
} // namespace
#else
extern "C" void *__libc_malloc(size_t bytes);
extern "C" void *__libc_realloc(void *block, size_t bytes);
extern "C" void *malloc(size_t bytes) {
    allocwatch::note(bytes);
    return __libc_malloc(bytes);
}
extern "C" void *realloc(void *block, size_t bytes) {
    allocwatch::note(bytes);
    return __libc_realloc(block, bytes);
}
#endif

namespace {

const std::string BIN = VEK_BIN_DIR;

// A codec object made the way the front ends make it.
class Codec {
public:
    Codec() : codec_(VEK_Constructor()) {}
    ~Codec() { VEK_Destructor(codec_); }
    Codec(const Codec &) = delete;
    Codec &operator=(const Codec &) = delete;
    VekCodecInterface *operator->() const { return codec_; }
    VekCodec &object() const { return *static_cast<VekCodec *>(codec_); }

private:
    VekCodecInterface *codec_;
};

// No work buffer is held, and no memory but the picture image.
bool workspaceReleased(const Codec &codec) {
    return holdsNothing(codec.object());
}

Bytes imageOf(Codec &codec) {
    if (codec->getImage() == nullptr) return Bytes();
    return Bytes(codec->getImage(), codec->getImage() + codec->getImageLength());
}

// A 24-bit picture of 13 x 7 pixels: one small block.
Bytes smallPicture() {
    return makeBmp(13, 7, 24, Bytes(), smoothPixels(13, 7, 24, 3));
}

// 8192 data bytes in runs of exactly four equal bytes. Each run is pre-coded
// as five bytes, so the pre-coded data overflow the one-unit block that 8192
// bytes choose, and the file holds two blocks.
Bytes twoBlockPicture() {
    const Bytes letters = randomBytes(2048, 11, 3);
    Bytes pixels;
    uint8_t previous = 0xFF;
    for (uint8_t letter : letters) {
        uint8_t v = static_cast<uint8_t>(40 + letter);
        if (v == previous) v = static_cast<uint8_t>(v + 3);
        pixels.insert(pixels.end(), 4, v);
        previous = v;
    }
    return makeBmp(64, 128, 8, Bytes(), pixels);
}

// Noise: a .vek file of about the picture's size, many output buffers long.
Bytes largePicture() {
    return makeBmp(320, 256, 24, Bytes(), randomBytes(320 * 3 * 256, 5));
}

// Encodes a picture and returns the .vek file's bytes.
template <typename Folder> Bytes encoded(const Folder &dir, const Bytes &picture) {
    const std::string bmp = dir.file("source.bmp"), vek = dir.file("source.vek");
    writeFile(bmp, picture);
    Codec codec;
    EXPECT_EQ(codec->encodeFile(bmp.c_str(), vek.c_str()), 1);
    const Bytes coded = readFile(vek);
    ::unlink(bmp.c_str());
    ::unlink(vek.c_str());
    return coded;
}

// A scratch folder on a memory file system when there is one: the damaged
// file tests write and remove thousands of small files, which a disk's
// journal makes ten times slower.
class Scratch {
public:
    Scratch() {
        struct stat st;
        if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0) {
            char pattern[] = "/dev/shm/vektest.XXXXXX";
            if (::mkdtemp(pattern) != nullptr) path_ = pattern;
        }
        if (path_.empty()) path_ = fallback_.path();
    }
    ~Scratch() {
        if (path_ != fallback_.path()) run("rm -rf " + quote(path_));
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    TempDir fallback_;
    std::string path_;
};

RunResult vekconv(const std::string &args) {
    return runCapturingErrors(quote(BIN + "/vekconv") + " " + args);
}

bool says(const RunResult &r, const char *text) {
    return r.output.find(text) != std::string::npos;
}

// The converter failed with "faild..." and named `reason` on standard error.
::testing::AssertionResult failedWith(const RunResult &r, int reason) {
    const std::string line = std::string("vekconv: ") + vekFailureText(reason) + "\n";
    if (r.exitCode == 1 && says(r, "faild...\n") && r.errors == line) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit " << r.exitCode << ", output: " << r.output
                                         << "errors: " << r.errors << "expected: " << line;
}

// Runs `body` in a child process and returns its exit code (or 128 + the
// signal that ended it), for what must not touch this process: resource
// limits and a change of user.
int inChild(const std::function<int()> &body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Decodes into a named pipe and counts the bytes the decoder wrote, so a test
// can bound them whatever becomes of the output afterwards.
size_t bytesDecodedIntoPipe(Codec &codec, const std::string &vek, const std::string &pipe, int *result) {
    ::unlink(pipe.c_str());
    EXPECT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> opened{false};
    size_t count = 0;
    std::thread reader([&] {
        const int fd = ::open(pipe.c_str(), O_RDONLY);
        opened = true;
        if (fd < 0) return;
        char buffer[65536];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof(buffer))) > 0) count += static_cast<size_t>(got);
        ::close(fd);
    });
    *result = codec->decodeFile(vek.c_str(), pipe.c_str());
    // A decoder that never opened its output leaves the reader waiting.
    if (!opened) {
        const int fd = ::open(pipe.c_str(), O_WRONLY);
        if (fd >= 0) ::close(fd);
    }
    reader.join();
    ::unlink(pipe.c_str());
    return count;
}

} // namespace

// --- A full disk ------------------------------------------------------------

TEST(FullDisk, WritingToAFullDeviceFailsAndSaysSo) {
    if (!fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    TempDir dir;
    for (const Bytes &picture : {smallPicture(), largePicture()}) {
        SCOPED_TRACE(picture.size());
        const std::string bmp = dir.file("in.bmp"), vek = dir.file("in.vek");
        writeFile(bmp, picture);
        Codec codec;
        EXPECT_EQ(codec->encodeFile(bmp.c_str(), "/dev/full"), 0);
        EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_WRITE);
        EXPECT_TRUE(workspaceReleased(codec));
        ASSERT_EQ(codec->encodeFile(bmp.c_str(), vek.c_str()), 1);
        EXPECT_EQ(codec->decodeFile(vek.c_str(), "/dev/full"), 0);
        EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_WRITE);
        EXPECT_TRUE(workspaceReleased(codec));
        // The codec still works afterwards.
        EXPECT_EQ(codec->decodeFile(vek.c_str(), dir.file("back.bmp").c_str()), 1);
        EXPECT_TRUE(fileExists("/dev/full")) << "a device output is never removed";
    }

    EXPECT_TRUE(failedWith(vekconv("e " + quote(dir.file("in.bmp")) + " /dev/full"), VEK_FAILURE_WRITE));
    EXPECT_TRUE(failedWith(vekconv("d " + quote(dir.file("in.vek")) + " /dev/full"), VEK_FAILURE_WRITE));
}

// A disk that fills up part-way through a regular file (a file size limit
// stands in for it): the partial output is removed, not left looking done.
TEST(FullDisk, DiskFullingUpMidFileRemovesThePartialOutput) {
    TempDir dir;
    const std::string bmp = dir.file("in.bmp"), vek = dir.file("in.vek");
    writeFile(bmp, largePicture());
    {
        Codec codec;
        ASSERT_EQ(codec->encodeFile(bmp.c_str(), vek.c_str()), 1);
    }
    ASSERT_GT(readFile(vek).size(), 3 * IO_BUFFER_SIZE);

    const std::string partialVek = dir.file("partial.vek"), partialBmp = dir.file("partial.bmp");
    const int limit = 2 * IO_BUFFER_SIZE + 1000;  // a few buffers get through first
    const int code = inChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);  // writes past the limit then fail with EFBIG
        struct rlimit small = {static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return 10;
        Codec codec;
        if (codec->encodeFile(bmp.c_str(), partialVek.c_str()) != 0) return 11;
        if (codec->getLastFailure() != VEK_FAILURE_WRITE) return 14;
        if (codec->decodeFile(vek.c_str(), partialBmp.c_str()) != 0) return 12;
        if (codec->getLastFailure() != VEK_FAILURE_WRITE) return 15;
        if (!workspaceReleased(codec)) return 13;
        return 0;
    });
    EXPECT_EQ(code, 0) << "11: encode reported success, 12: decode reported success, 14, 15: not as a failed write";
    EXPECT_FALSE(fileExists(partialVek));
    EXPECT_FALSE(fileExists(partialBmp));
}

// --- Paths that cannot be used ----------------------------------------------

TEST(UnusablePaths, MissingFoldersAndDirectoriesAreRefusedWithoutCreatingAnything) {
    TempDir dir;
    const std::string bmp = dir.file("in.bmp"), vek = dir.file("in.vek");
    writeFile(bmp, smallPicture());
    Codec codec;
    ASSERT_EQ(codec->encodeFile(bmp.c_str(), vek.c_str()), 1);
    ASSERT_EQ(codec->loadFile(vek.c_str()), 1);
    const Bytes picture = imageOf(codec);

    const std::string missing = dir.file("no such folder");
    EXPECT_EQ(codec->encodeFile(bmp.c_str(), (missing + "/out.vek").c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_CREATE_OUTPUT);
    EXPECT_EQ(codec->decodeFile(vek.c_str(), (missing + "/out.bmp").c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_CREATE_OUTPUT);
    EXPECT_FALSE(fileExists(missing));

    // A directory as input: nothing is read from it and nothing is made.
    const std::string folder = dir.file("folder.bmp");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(codec->encodeFile(folder.c_str(), dir.file("from-folder.vek").c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OPEN_INPUT);
    EXPECT_EQ(codec->decodeFile(folder.c_str(), dir.file("from-folder.bmp").c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OPEN_INPUT);
    EXPECT_FALSE(fileExists(dir.file("from-folder.vek")));
    EXPECT_FALSE(fileExists(dir.file("from-folder.bmp")));
    EXPECT_EQ(codec->loadFile(folder.c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_OPEN_INPUT);
    EXPECT_EQ(imageOf(codec), picture) << "the loaded picture stays";

    // A directory as output stays a directory.
    EXPECT_EQ(codec->encodeFile(bmp.c_str(), folder.c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_CREATE_OUTPUT);
    EXPECT_EQ(codec->decodeFile(vek.c_str(), folder.c_str()), 0);
    EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_CREATE_OUTPUT);
    struct stat st;
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(workspaceReleased(codec));

    EXPECT_TRUE(failedWith(vekconv("e " + quote(bmp) + " " + quote(missing + "/out.vek")), VEK_FAILURE_CREATE_OUTPUT));
    EXPECT_TRUE(failedWith(vekconv("d " + quote(folder) + " " + quote(dir.file("x.bmp"))), VEK_FAILURE_OPEN_INPUT));
    EXPECT_FALSE(fileExists(dir.file("x.bmp")));
}

// An input without read permission. Permissions do not bind the superuser,
// so when the tests run as root the operations run in a child process that
// has given up root first.
TEST(UnusablePaths, UnreadableInputIsRefusedWithoutCreatingAnything) {
    TempDir dir;
    const std::string bmp = dir.file("locked.bmp"), vek = dir.file("locked.vek");
    writeFile(bmp, smallPicture());
    {
        Codec codec;
        ASSERT_EQ(codec->encodeFile(bmp.c_str(), vek.c_str()), 1);
    }
    const std::string outputs = dir.file("outputs");
    ASSERT_EQ(::mkdir(outputs.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(outputs.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(bmp.c_str(), 0), 0);
    ASSERT_EQ(::chmod(vek.c_str(), 0), 0);
    const std::string outVek = outputs + "/out.vek", outBmp = outputs + "/out.bmp";

    const int SKIP = 77;
    const int code = inChild([&] {
        if (::geteuid() == 0) {
            const gid_t nobodyGroup = 65534;
            const uid_t nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobodyGroup) != 0 || ::setuid(nobody) != 0) return SKIP;
        }
        // Still able to read it (a capability that bypasses permissions).
        const int probe = ::open(bmp.c_str(), O_RDONLY);
        if (probe >= 0) {
            ::close(probe);
            return SKIP;
        }
        Codec codec;
        if (codec->encodeFile(bmp.c_str(), outVek.c_str()) != 0) return 1;
        if (codec->getLastFailure() != VEK_FAILURE_OPEN_INPUT) return 4;
        if (codec->decodeFile(vek.c_str(), outBmp.c_str()) != 0) return 2;
        if (codec->getLastFailure() != VEK_FAILURE_OPEN_INPUT) return 5;
        if (codec->loadFile(vek.c_str()) != 0 || codec->getImage() != nullptr) return 3;
        if (codec->getLastFailure() != VEK_FAILURE_OPEN_INPUT) return 6;
        return 0;
    });
    if (code == SKIP) GTEST_SKIP() << "permissions do not keep this user from reading";
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(fileExists(outVek));
    EXPECT_FALSE(fileExists(outBmp));
}

// --- One file under two names -----------------------------------------------

TEST(SameFile, AnInputIsNeverItsOwnOutputUnderAnyName) {
    TempDir dir;
    const std::string bmp = dir.file("a.bmp"), vek = dir.file("a.vek");
    const Bytes picture = smallPicture();
    writeFile(bmp, picture);
    Codec codec;
    ASSERT_EQ(codec->encodeFile(bmp.c_str(), vek.c_str()), 1);
    const Bytes coded = readFile(vek);

    ASSERT_EQ(::link(bmp.c_str(), dir.file("hard.bmp").c_str()), 0);
    ASSERT_EQ(::symlink(bmp.c_str(), dir.file("soft.vek").c_str()), 0);
    ASSERT_EQ(::link(vek.c_str(), dir.file("hard.vek").c_str()), 0);
    ASSERT_EQ(::symlink(vek.c_str(), dir.file("soft.bmp").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    const std::string roundabout = dir.path() + "/sub/../a.bmp";

    for (const std::string &name : {bmp, dir.file("hard.bmp"), dir.file("soft.vek"), roundabout}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(codec->encodeFile(bmp.c_str(), name.c_str()), 0);
        EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_SAME_FILE);
        EXPECT_EQ(readFile(bmp), picture);
    }
    for (const std::string &name : {vek, dir.file("hard.vek"), dir.file("soft.bmp")}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(codec->decodeFile(vek.c_str(), name.c_str()), 0);
        EXPECT_EQ(codec->getLastFailure(), VEK_FAILURE_SAME_FILE);
        EXPECT_EQ(readFile(vek), coded);
    }
    EXPECT_TRUE(workspaceReleased(codec));

    EXPECT_TRUE(failedWith(vekconv("e " + quote(bmp) + " " + quote(dir.file("hard.bmp"))), VEK_FAILURE_SAME_FILE));
    EXPECT_TRUE(failedWith(vekconv("d " + quote(dir.file("soft.bmp")) + " " + quote(vek)), VEK_FAILURE_SAME_FILE));
    EXPECT_EQ(readFile(bmp), picture);
    EXPECT_EQ(readFile(vek), coded);
}

// --- Unusual names ------------------------------------------------------------

TEST(Names, SpacesQuotesAndNonAsciiCharactersWork) {
    TempDir dir;
    const Bytes picture = smallPicture();
    const std::string stems[] = {"picture with  spaces", "Bild \xC3\xBC\xC3\x9F \xE7\x94\xBB\xE5\x83\x8F",
                                 "it's \"quoted\" -e", " leading and trailing "};
    for (const std::string &stem : stems) {
        SCOPED_TRACE(stem);
        const std::string folder = dir.file("folder " + stem);
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        const std::string bmp = folder + "/" + stem + ".bmp", vek = folder + "/" + stem + ".vek";
        writeFile(bmp, picture);

        Codec codec;
        ASSERT_EQ(codec->encodeFile(bmp.c_str(), vek.c_str()), 1);
        const std::string back = folder + "/" + stem + " back.bmp";
        ASSERT_EQ(codec->decodeFile(vek.c_str(), back.c_str()), 1);
        const Bytes restored = readFile(back);
        ASSERT_GE(restored.size(), picture.size());
        EXPECT_TRUE(std::equal(picture.begin() + 54, picture.end(), restored.begin() + 54));
        EXPECT_EQ(codec->loadFile(vek.c_str()), 1);
        ::unlink(vek.c_str());

        // The converter, with the output name it derives.
        RunResult r = vekconv("e " + quote(bmp));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        ASSERT_TRUE(fileExists(vek));
        ::unlink(bmp.c_str());
        r = vekconv("d " + quote(vek));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(readFile(bmp), restored);
    }
}

// --- Damaged files --------------------------------------------------------------

// Every length short of the whole file: each fails, leaves no output, and
// loading it never keeps half a picture.
TEST(DamagedFile, EveryTruncationFailsCleanly) {
    Scratch dir;
    const std::string cut = dir.file("cut.vek"), out = dir.file("cut.bmp"), good = dir.file("good.vek");
    for (const Bytes &picture : {smallPicture(), twoBlockPicture()}) {
        const Bytes coded = encoded(dir, picture);
        SCOPED_TRACE(coded.size());
        writeFile(good, coded);
        Codec codec;
        ASSERT_EQ(codec->loadFile(good.c_str()), 1);
        const Bytes whole = imageOf(codec);
        ASSERT_EQ(whole.size(), dataSizeOf(unpackVekHeader(coded.data())));

        for (size_t length = 0; length < coded.size(); ++length) {
            SCOPED_TRACE(length);
            writeFile(cut, Bytes(coded.begin(), coded.begin() + static_cast<long>(length)));
            // Too short to hold the magic: some other file; else cut short.
            const int reason = length < 4 ? VEK_FAILURE_NOT_VEK : VEK_FAILURE_DAMAGED_VEK;
            ASSERT_EQ(codec->decodeFile(cut.c_str(), out.c_str()), 0);
            ASSERT_EQ(codec->getLastFailure(), reason);
            ASSERT_FALSE(fileExists(out));
            ASSERT_EQ(codec->loadFile(cut.c_str()), 0);
            ASSERT_EQ(codec->getLastFailure(), reason);
            if (length < VEK_HEADER_SIZE) {
                // Refused before decoding: the loaded picture stays.
                ASSERT_EQ(imageOf(codec), whole);
            } else {
                ASSERT_EQ(codec->getImage(), nullptr);
                ASSERT_EQ(codec->getImageLength(), 0);
                ASSERT_EQ(codec->getBits(), nullptr);
                ASSERT_EQ(codec->loadFile(good.c_str()), 1);
            }
            ASSERT_TRUE(workspaceReleased(codec));
        }
    }

    // The converter on a few of them.
    const Bytes coded = encoded(dir, twoBlockPicture());
    for (size_t length : {size_t(0), size_t(11), size_t(12), coded.size() / 2, coded.size() - 1}) {
        SCOPED_TRACE(length);
        writeFile(cut, Bytes(coded.begin(), coded.begin() + static_cast<long>(length)));
        EXPECT_TRUE(failedWith(vekconv("d " + quote(cut)), length == 0 ? VEK_FAILURE_NOT_VEK : VEK_FAILURE_DAMAGED_VEK));
        EXPECT_FALSE(fileExists(out));
    }
}

// Every single-bit change: the operation fails cleanly or, where the format
// cannot tell, restores a picture of exactly the size the (changed) header
// declares. The sanitizer build checks that no byte outside a buffer is
// touched on the way.
TEST(DamagedFile, EveryBitFlipFailsOrGivesThePictureItDeclares) {
    Scratch dir;
    const std::string flipped = dir.file("flipped.vek"), out = dir.file("flipped.bmp");
    for (const Bytes &picture : {smallPicture(), twoBlockPicture()}) {
        const Bytes coded = encoded(dir, picture);
        SCOPED_TRACE(coded.size());
        for (size_t bit = 0; bit < coded.size() * 8; ++bit) {
            SCOPED_TRACE(bit);
            Bytes damaged = coded;
            damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            writeFile(flipped, damaged);
            const uint64_t declared = dataSizeOf(unpackVekHeader(damaged.data()));

            Codec codec;
            if (codec->decodeFile(flipped.c_str(), out.c_str()) == 1) {
                const Bytes back = readFile(out);
                ASSERT_EQ(back.size(), 54 + declared);
                ASSERT_EQ(get32(back, 2), back.size());
            } else {
                ASSERT_FALSE(fileExists(out));
                ASSERT_TRUE(codec->getLastFailure() == VEK_FAILURE_NOT_VEK ||
                            codec->getLastFailure() == VEK_FAILURE_DAMAGED_VEK)
                    << codec->getLastFailure();
            }
            if (codec->loadFile(flipped.c_str()) == 1) {
                ASSERT_EQ(static_cast<uint64_t>(codec->getImageLength()), declared);
                ASSERT_NE(codec->getImage(), nullptr);
                ASSERT_EQ(codec->getBits(), codec->getImage() + get16(damaged, 4));
                // Every byte is read, for the sanitizer to see.
                unsigned sum = 0;
                for (int i = 0; i < codec->getImageLength(); ++i) sum += codec->getImage()[i];
                volatile unsigned sink = sum;
                (void)sink;
            } else {
                ASSERT_EQ(codec->getImage(), nullptr);
                ASSERT_EQ(codec->getImageLength(), 0);
                ASSERT_TRUE(codec->getLastFailure() == VEK_FAILURE_NOT_VEK ||
                            codec->getLastFailure() == VEK_FAILURE_DAMAGED_VEK)
                    << codec->getLastFailure();
            }
            ASSERT_TRUE(workspaceReleased(codec));
            ::unlink(out.c_str());
        }
    }
}

// --- Hostile headers ----------------------------------------------------------------

namespace {

void setHeader(Bytes &coded, uint16_t palette, uint8_t bitCount, uint16_t width, uint16_t height) {
    VekFileHeader h = unpackVekHeader(coded.data());
    h.paletteSize = palette;
    h.bitCount = bitCount;
    h.width = width;
    h.height = height;
    packVekHeader(h, coded.data());
}

} // namespace

// A few hundred bytes that announce a picture of two gigabytes: the decoders
// hold and write only what the stream delivers, then fail.
TEST(HostileHeader, TinyFileAnnouncingAHugePictureCostsOnlyWhatItDelivers) {
    TempDir dir;
    Bytes coded = encoded(dir, smallPicture());
    const uint64_t delivered = dataSizeOf(unpackVekHeader(coded.data()));
    setHeader(coded, 0, 8, 65535, 32767);  // N = 65536 x 32767, just below 2^31
    ASSERT_LE(dataSizeOf(unpackVekHeader(coded.data())), static_cast<uint64_t>(INT32_MAX));
    const std::string vek = dir.file("huge.vek");
    writeFile(vek, coded);

    Codec codec;
    int result = -1;
    const size_t largest = allocwatch::largestRequestOf([&] { result = codec->loadFile(vek.c_str()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(codec->getImage(), nullptr);
    EXPECT_GE(largest, 4 * BLOCK_UNIT) << "the watch sees the block buffers";
    EXPECT_LE(largest, size_t(16) << 20) << "the image grows with the data, not with the header";

    const size_t written = bytesDecodedIntoPipe(codec, vek, dir.file("pipe"), &result);
    EXPECT_EQ(result, 0);
    EXPECT_LE(written, 54 + delivered);
    const std::string out = dir.file("huge.bmp");
    EXPECT_EQ(codec->decodeFile(vek.c_str(), out.c_str()), 0);
    EXPECT_FALSE(fileExists(out));
    EXPECT_TRUE(workspaceReleased(codec));
}

// A header that announces a few bytes in front of a stream that delivers many
// more: decoding stops at the header's data size, neither writing nor holding
// more than that.
TEST(HostileHeader, StreamExpandingBeyondItsHeaderIsStoppedAtTheDataSize) {
    TempDir dir;
    Bytes coded = encoded(dir, twoBlockPicture());  // 8192 data bytes, highly expanding runs
    const std::string vek = dir.file("small.vek");
    for (uint16_t width : {0, 1, 4, 63}) {
        SCOPED_TRACE(width);
        setHeader(coded, 0, 8, width, 1);
        const uint64_t declared = dataSizeOf(unpackVekHeader(coded.data()));
        writeFile(vek, coded);

        Codec codec;
        int result = -1;
        const size_t written = bytesDecodedIntoPipe(codec, vek, dir.file("pipe"), &result);
        EXPECT_EQ(result, 0);
        EXPECT_LE(written, 54 + declared);

        const size_t largest = allocwatch::largestRequestOf([&] { result = codec->loadFile(vek.c_str()); });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(codec->getImage(), nullptr);
        // The block buffers of one unit are the largest thing a one-unit file may ask for.
        EXPECT_GT(largest, 0u) << "the watch sees the codec's requests";
        EXPECT_LE(largest, std::max<size_t>(declared, 4 * BLOCK_UNIT));
        EXPECT_TRUE(workspaceReleased(codec));
    }
}

// The largest data size an encoder writes is 2^31 - 1 (what the image length
// and the restored file's size fields can report). A header beyond it is
// refused before anything is decoded, so the loaded picture stays; one at
// the limit is decoded (and fails here, its stream being short).
TEST(HostileHeader, DataSizesNoEncoderWritesAreRefusedBeforeDecoding) {
    TempDir dir;
    const Bytes good = encoded(dir, smallPicture());
    const std::string goodVek = dir.file("good.vek"), vek = dir.file("hostile.vek"), out = dir.file("hostile.bmp");
    writeFile(goodVek, good);

    struct Case {
        uint16_t palette, width, height;
        bool refused;
    };
    for (const Case &c : {Case{65535, 65535, 32767, false}, Case{0, 65535, 32768, true},
                          Case{65535, 65535, 65535, true}}) {
        SCOPED_TRACE(c.height);
        Bytes coded = good;
        setHeader(coded, c.palette, 8, c.width, c.height);
        ASSERT_EQ(dataSizeOf(unpackVekHeader(coded.data())) > static_cast<uint64_t>(INT32_MAX), c.refused);
        writeFile(vek, coded);

        Codec codec;
        ASSERT_EQ(codec->loadFile(goodVek.c_str()), 1);
        const Bytes picture = imageOf(codec);
        EXPECT_EQ(codec->loadFile(vek.c_str()), 0);
        EXPECT_EQ(codec->getLastFailure(), c.refused ? VEK_FAILURE_NOT_VEK : VEK_FAILURE_DAMAGED_VEK);
        if (c.refused)
            EXPECT_EQ(imageOf(codec), picture) << "refused before decoding";
        else
            EXPECT_EQ(codec->getImage(), nullptr) << "decoded, then failed";
        EXPECT_EQ(codec->decodeFile(vek.c_str(), out.c_str()), 0);
        EXPECT_FALSE(fileExists(out));
    }
}
