#if defined(_WIN32)
#include <windows.h>  // first: the codec's header then takes its bitmap header types
#endif

#include "test_support.h"

#include "encoder_driver.h"
#include "vek_codec.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#if defined(_WIN32)
#include <filesystem>
#include <random>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "window_messages.h"

#if defined(_WIN32)
int setenv(const char *name, const char *value, int overwrite) {
    if (!overwrite && std::getenv(name) != nullptr) return 0;
    return ::_putenv_s(name, value) == 0 ? 0 : -1;
}

int unsetenv(const char *name) {
    return ::_putenv_s(name, "") == 0 ? 0 : -1;  // an empty value removes it
}
#endif

namespace testsupport {

int encodeInBlocks(VekCodec &codec, const Bytes &picture, uint32_t blockFactor, Bytes *coded, ProgressSink *progress) {
    coded->resize(encodeBound(picture.size()));
    MemorySource input(picture.data(), picture.size());
    MemorySink output(coded->data(), coded->size());
    AcceptedBitmap accepted;
    if (checkBitmapHeader(input, &accepted) != VEK_FAILURE_NONE) return 0;
    try {
        EncoderContext context(codec.memory, progress);
        context.encode(accepted, input, output, blockFactor);
    } catch (const VekFailure &failure) {
        codec.lastFailure = failure.reason;
        return 0;
    }
    coded->resize(output.length());
    return 1;
}

size_t blockCapacity(size_t n) {
    return n <= BLOCK_UNIT ? BLOCK_UNIT : (n + BLOCK_UNIT - 1) / BLOCK_UNIT * BLOCK_UNIT;
}

bool holdsNothing(const VekCodec &codec) {
    return codec.memory.liveBlocks() == (codec.image != nullptr ? 1 : 0);
}

ByteSink &StreamBuffer::sink() {
    bytes_.clear();
    sink_.bytes = &bytes_;
    sink_.position = 0;
    return sink_;
}

ByteSource &StreamBuffer::source() {
    source_ = std::make_unique<MemorySource>(bytes_.data(), bytes_.size());
    return *source_;
}

bool StreamBuffer::Growing::write(const void *data, size_t count) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    if (bytes->size() < position + count) bytes->resize(position + count);
    std::copy(p, p + count, bytes->begin() + static_cast<std::ptrdiff_t>(position));
    position += count;
    return true;
}

MessageTarget::MessageTarget() : handle_(platform::createMessageWindow()) {
    if (handle_ == nullptr) std::abort();
}

MessageTarget::~MessageTarget() {
    platform::destroyMessageWindow(handle_);
}

#if defined(_WIN32)
TempDir::TempDir() {
    namespace fs = std::filesystem;
    std::random_device seed;
    for (;;) {
        const fs::path candidate = fs::temp_directory_path() / ("vektest." + std::to_string(seed()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.generic_string();
            return;
        }
        if (error) std::abort();
    }
}

TempDir::~TempDir() {
    std::error_code ignored;  // leftovers in the temporary folder are harmless
    std::filesystem::remove_all(path_, ignored);
}
#else
TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vektest.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) std::abort();
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::string cmd = "chmod -R u+rwx " + quote(path_) + " 2>/dev/null; rm -rf " + quote(path_);
    if (std::system(cmd.c_str()) != 0) {
        // Leftovers in the temporary folder are harmless.
    }
}
#endif

void writeFile(const std::string &path, const Bytes &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

static void put16(Bytes &b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

static void put32(Bytes &b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

uint32_t bmpRowBytes(uint32_t width, uint32_t bitCount) {
    return (width * bitCount + 31) / 32 * 4;
}

Bytes makeBmp(int32_t width, int32_t height, uint16_t bitCount, const Bytes &palette, const Bytes &pixels) {
    Bytes b;
    const uint32_t offBits = 54 + static_cast<uint32_t>(palette.size());
    put16(b, 0x4D42);
    put32(b, offBits + static_cast<uint32_t>(pixels.size()));
    put16(b, 0);
    put16(b, 0);
    put32(b, offBits);
    put32(b, 40);
    put32(b, static_cast<uint32_t>(width));
    put32(b, static_cast<uint32_t>(height));
    put16(b, 1);
    put16(b, bitCount);
    put32(b, 0);
    put32(b, static_cast<uint32_t>(pixels.size()));
    put32(b, 2835);
    put32(b, 2835);
    put32(b, 0);
    put32(b, 0);
    b.insert(b.end(), palette.begin(), palette.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

ColumnCounts countColumn(const Bytes &column) {
    ColumnCounts c = {};
    for (size_t i = 0; i < column.size(); ++i) {
        ++c.bytes[column[i]];
        if (i > 0 && column[i] != column[i - 1]) ++c.changes;
    }
    return c;
}

Bytes randomBytes(size_t n, uint32_t seed, uint32_t alphabet) {
    Bytes b(n);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b[i] = static_cast<uint8_t>((x >> 24) % alphabet);
    }
    return b;
}

Bytes smoothPixels(uint32_t width, uint32_t height, uint32_t bitCount, uint32_t seed) {
    const uint32_t row = bmpRowBytes(width, bitCount);
    const Bytes noise = randomBytes(static_cast<size_t>(row) * height, seed, 5);
    Bytes b(static_cast<size_t>(row) * height, 0);
    const uint32_t bytesPerPixel = bitCount / 8;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < bytesPerPixel; ++c) {
                const size_t at = static_cast<size_t>(y) * row + x * bytesPerPixel + c;
                b[at] = static_cast<uint8_t>((x * (c + 1) + y * 2 + c * 40) / 3 + noise[at]);
            }
    return b;
}

uint32_t get32(const Bytes &b, size_t offset) {
    return b[offset] | (b[offset + 1] << 8) | (b[offset + 2] << 16) | (static_cast<uint32_t>(b[offset + 3]) << 24);
}

uint16_t get16(const Bytes &b, size_t offset) {
    return static_cast<uint16_t>(b[offset] | (b[offset + 1] << 8));
}

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

RunResult runCapturingErrors(const std::string &commandLine) {
    TempDir dir;
    const std::string errors = dir.file("errors");
    RunResult result = run("{ " + commandLine + "\n} 2>" + quote(errors));
    const Bytes bytes = readFile(errors);
    result.errors.assign(bytes.begin(), bytes.end());
    return result;
}

RunResult run(const std::string &commandLine) {
    RunResult result{-1, std::string(), std::string()};
#if defined(_WIN32)
    FILE *pipe = ::_popen(commandLine.c_str(), "rb");
#else
    FILE *pipe = ::popen(commandLine.c_str(), "r");
#endif
    if (pipe == nullptr) return result;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) result.output.append(buf, n);
#if defined(_WIN32)
    result.exitCode = ::_pclose(pipe);
#else
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return result;
}

} // namespace testsupport
