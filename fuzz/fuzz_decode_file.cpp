// Fuzz target: a .vek file decoded to a BMP file (decodeFile), and the same
// bytes decoded in memory (decodeMemory).
//
// Whatever the bytes, the operation either restores a file of exactly
// 54 + N bytes and reports 1, or reports 0 and leaves no output behind; it
// never crashes, reads or writes out of bounds, or keeps a work buffer. The
// memory door gives the same result and the same bytes, and its size query
// the size of that file.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace fuzz;
    if (size >= VEK_HEADER_SIZE && announcedDataSize(data) > MAX_FUZZ_DATA_SIZE) return -1;
    const std::string in = scratchPath("in");
    const std::string out = scratchPath("out");
    writeWholeFile(in, data, size);
    ::unlink(out.c_str());

    Codec codec;
    const int result = codec->decodeFile(in.c_str(), out.c_str());
    checkWorkspaceReleased(codec);
    FUZZ_CHECK(result == 0 || result == 1);

    // The memory door, into a buffer of exactly the announced size, with a
    // guard byte behind it.
    const uint32_t announced = codec->getDecodedSize(data, static_cast<uint32_t>(size));
    std::vector<uint8_t> memory(static_cast<size_t>(announced) + 1, 0xA5);
    uint32_t memorySize = announced;
    const int memoryResult = codec->decodeMemory(data, static_cast<uint32_t>(size), memory.data(), &memorySize);
    checkWorkspaceReleased(codec);
    FUZZ_CHECK(memoryResult == result);
    FUZZ_CHECK(memory[announced] == 0xA5);

    if (result == 0) {
        FUZZ_CHECK(!fileExists(out));
        FUZZ_CHECK(memorySize == announced);
        return 0;
    }

    FUZZ_CHECK(size >= VEK_HEADER_SIZE && std::memcmp(data, VEK_MAGIC, 4) == 0);
    const uint64_t n = announcedDataSize(data);
    std::vector<uint8_t> restored;
    FUZZ_CHECK(readWholeFile(out, &restored));
    FUZZ_CHECK(restored.size() == BMP_HEADERS_SIZE + n);
    FUZZ_CHECK(get16(&restored[0]) == BMP_SIGNATURE);
    FUZZ_CHECK(get32(&restored[2]) == restored.size());
    FUZZ_CHECK(get32(&restored[10]) == BMP_HEADERS_SIZE + get16(data + 4));
    FUZZ_CHECK(announced == restored.size() && memorySize == announced);
    FUZZ_CHECK(std::memcmp(memory.data(), restored.data(), restored.size()) == 0);
    return 0;
}
