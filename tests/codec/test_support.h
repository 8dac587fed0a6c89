// Helpers shared by the codec tests: temporary folders, files, generated
// BMP pictures and running the built programs.
#ifndef VEK_TESTS_TEST_SUPPORT_H
#define VEK_TESTS_TEST_SUPPORT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_streams.h"

class ProgressSink;
class VekCodec;

#if defined(_WIN32)
// The POSIX calls with which tests set their own environment.
int setenv(const char *name, const char *value, int overwrite);
int unsetenv(const char *name);
#endif

namespace testsupport {

typedef std::vector<uint8_t> Bytes;

// A fresh folder below the system's temporary folder, removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The capacity of the blocks (whole units of BLOCK_UNIT) that hold n bytes.
size_t blockCapacity(size_t n);

// The object holds no memory but its picture.
bool holdsNothing(const VekCodec &codec);

// Encodes a BMP picture in memory as the object's encodeMemory does, but in
// blocks of `blockFactor` units (more blocks than its size would give): an
// encoder context over the object's memory, progress to `progress` if set.
// A failure is recorded as the object's last failure; the result is then 0.
int encodeInBlocks(VekCodec &codec, const Bytes &picture, uint32_t blockFactor, Bytes *coded,
                   ProgressSink *progress = nullptr);

// A coded stream held in memory for the coder tests: written through
// sink() (which starts it afresh), read through source() (from the start).
class StreamBuffer {
public:
    ByteSink &sink();
    ByteSource &source();
    Bytes &bytes() { return bytes_; }

private:
    struct Growing final : ByteSink {
        Bytes *bytes;
        size_t position = 0;
        bool write(const void *data, size_t count) override;
    };
    Bytes bytes_;
    Growing sink_{};
    std::unique_ptr<MemorySource> source_;
};

void writeFile(const std::string &path, const Bytes &data);
Bytes readFile(const std::string &path);
bool fileExists(const std::string &path);

// A BMP file: the two headers, `palette` (bfOffBits = 54 + its size) and
// `pixels` exactly as given. Height may be negative (top-down).
Bytes makeBmp(int32_t width, int32_t height, uint16_t bitCount, const Bytes &palette, const Bytes &pixels);

// Row length of the BMP format: width x bits, rounded up to 4 bytes.
uint32_t bmpRowBytes(uint32_t width, uint32_t bitCount);

// Deterministic pseudo-random bytes.
Bytes randomBytes(size_t n, uint32_t seed, uint32_t alphabet = 256);

// A picture whose pixel rows look like a photo (smooth gradients with noise).
Bytes smoothPixels(uint32_t width, uint32_t height, uint32_t bitCount, uint32_t seed);

// What the symbol decoder counts of a last column for the inverse
// transform: each byte's occurrences and the places i > 0 where the byte
// differs from byte i - 1.
struct ColumnCounts {
    int32_t bytes[256];
    int32_t changes;
};
ColumnCounts countColumn(const Bytes &column);

// A receiver of the codec's progress messages: a message window of the
// calling thread.
class MessageTarget {
public:
    MessageTarget();
    ~MessageTarget();
    MessageTarget(const MessageTarget &) = delete;
    MessageTarget &operator=(const MessageTarget &) = delete;
    void *handle() const { return handle_; }

private:
    void *handle_;
};

// Little-endian field readers.
uint32_t get32(const Bytes &b, size_t offset);
uint16_t get16(const Bytes &b, size_t offset);

struct RunResult {
    int exitCode;
    std::string output;
    std::string errors;  // standard error, by runCapturingErrors only
};

// Runs a command line through the shell, capturing standard output.
RunResult run(const std::string &commandLine);

// The same, capturing standard error apart from standard output.
RunResult runCapturingErrors(const std::string &commandLine);

// Quotes a path for the shell.
std::string quote(const std::string &s);

} // namespace testsupport

#endif
