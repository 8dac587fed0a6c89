// Shared helpers of the fuzz targets: a private scratch folder, whole-file
// reads and writes, and a checked abort that the fuzzer reports as a crash.
#ifndef VEK_FUZZ_FUZZ_COMMON_H
#define VEK_FUZZ_FUZZ_COMMON_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "vek_codec.h"
#include "vek_format.h"
#include "work_buffers.h"

namespace fuzz {

// A broken promise of the codec: print what was expected and abort, so the
// fuzzer keeps the input that led here.
#define FUZZ_CHECK(condition)                                                                        \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);       \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)

// One scratch folder per process, removed at exit.
inline const std::string &scratchFolder() {
    static std::string folder = [] {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vekfuzz.XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        static std::string made(name.data());
        std::atexit([] {
            for (const char *leaf : {"/in", "/out", "/back"}) ::unlink((made + leaf).c_str());
            ::rmdir(made.c_str());
        });
        return made;
    }();
    return folder;
}

inline std::string scratchPath(const char *leaf) {
    return scratchFolder() + "/" + leaf;
}

inline void writeWholeFile(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
}

inline bool readWholeFile(const std::string &path, std::vector<uint8_t> *out) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    out->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), f)) > 0) out->insert(out->end(), chunk, chunk + got);
    std::fclose(f);
    return true;
}

inline bool fileExists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

inline uint32_t get16(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}

inline uint32_t get32(const uint8_t *p) {
    return get16(p) | get16(p + 2) << 16;
}

// Where an accepted BMP file's data bytes (colour table, then pixels)
// start: after the 40-byte info header, or after a longer one of an 8-bit
// picture, whose extra bytes are left out (`bmp` holds at least 54 bytes).
inline uint32_t bmpDataOffset(const uint8_t *bmp) {
    const uint32_t infoSize = get32(bmp + 14);
    return 14 + (get16(bmp + 28) == 8 && infoSize > 40 ? infoSize : 40);
}

// N of a .vek header at the start of `data` (which holds at least 12 bytes).
inline uint64_t announcedDataSize(const uint8_t *data) {
    return dataSizeOf(unpackVekHeader(data));
}

// Data sizes above this are skipped: a header may announce up to 4 GiB, and
// the decoders may then legitimately write or hold that much, which says
// nothing about their robustness and only slows the search. The tests cover
// such headers.
const uint64_t MAX_FUZZ_DATA_SIZE = 16u << 20;

// A codec object made and destroyed the way the front ends do it.
struct Codec {
    VekCodecInterface *object;
    Codec() : object(VEK_Constructor()) { FUZZ_CHECK(object != nullptr); }
    ~Codec() { VEK_Destructor(object); }
    VekCodecInterface *operator->() { return object; }
};

// No work buffer may outlive an operation, whatever its result: no memory
// but the picture image stays with the object.
inline void checkWorkspaceReleased(Codec &codec) {
    const WorkMemory &memory = static_cast<VekCodec *>(codec.object)->memory;
    FUZZ_CHECK(memory.liveBlocks() == (codec->getImage() != nullptr ? 1 : 0));
}

} // namespace fuzz

#endif
