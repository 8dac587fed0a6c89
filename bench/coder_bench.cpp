// vek_coder_bench: the speed of the symbol coder alone, encoder and decoder,
// in nanoseconds and time-stamp counter cycles per coded symbol.
//
// For each BMP picture it encodes the picture once through the codec object,
// decodes that stream's symbols once to get every block's last column and
// move-to-front ranks, and then times, best of N repetitions each, only:
//   encode ranks   the symbol encode of all blocks from their ranks
//   encode column  the same from the last columns (ranks found on the way)
//   decode ranks   the symbol decode of all blocks into ranks
//   decode column  the same into the last columns (move-to-front undone)
// Every repetition must give back the stream or the blocks exactly.
//
// Usage: vek_coder_bench [--reps N] [--save FILE] [--baseline FILE] picture.bmp...
// --save writes the cycles per symbol of this run; --baseline reads such a
// file and prints this run's cycles as a share of its.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define VEK_BENCH_TSC 1
#endif

#include "arithmetic_coder.h"
#include "byte_streams.h"
#include "symbol_coder.h"
#include "vek/vek.h"
#include "vek_format.h"

namespace {

typedef std::vector<uint8_t> Bytes;

uint64_t ticks() {
#ifdef VEK_BENCH_TSC
    return __rdtsc();
#else
    return 0;
#endif
}

uint64_t nanoseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

bool readFile(const std::string &path, Bytes &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct Block {
    Bytes column, ranks;
    int32_t primary;
    int isLast;
};

// Symbols the coder codes for a block: the start value's four, one main
// symbol per nonzero rank and a bucket symbol for ranks from 2, floor(log2(n
// + 1)) digits per run of n zeros, and the end symbol.
uint64_t symbolsOf(const Block &b) {
    uint64_t symbols = 4 + 1;
    uint64_t run = 0;
    auto digits = [](uint64_t n) {
        uint64_t d = 0;
        for (n += 1; n > 1; n >>= 1) ++d;
        return d;
    };
    for (uint8_t r : b.ranks) {
        if (r == 0) {
            ++run;
            continue;
        }
        symbols += digits(run) + (r == 1 ? 1 : 2);
        run = 0;
    }
    return symbols + digits(run);
}

struct Picture {
    std::string name;
    Bytes vek;
    uint32_t capacity;
    std::vector<Block> blocks;
    uint64_t symbols;
};

bool preparePicture(const std::string &path, Picture &p) {
    Bytes bmp;
    if (!readFile(path, bmp)) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    p.name = path.substr(path.find_last_of('/') + 1);
    VekCodecInterface *codec = VEK_Constructor();
    const uint32_t size = static_cast<uint32_t>(bmp.size());
    uint32_t vekSize = codec->getEncodeBound(size);
    p.vek.resize(vekSize);
    const int ok = vekSize != 0 && codec->encodeMemory(bmp.data(), size, p.vek.data(), &vekSize);
    VEK_Destructor(codec);
    if (!ok) {
        std::fprintf(stderr, "%s does not encode\n", path.c_str());
        return false;
    }
    p.vek.resize(vekSize);

    p.capacity = unpackVekHeader(p.vek.data()).blockFactor * BLOCK_UNIT;
    MemorySource source(p.vek.data(), p.vek.size());
    source.seekTo(VEK_HEADER_SIZE);
    std::unique_ptr<RangeDecoder> decoder(new RangeDecoder);
    std::unique_ptr<SymbolModels> models(new SymbolModels);
    decoder->start(source, source.size() - VEK_HEADER_SIZE);
    decoder->startCoder();
    Bytes buffer(p.capacity);
    p.symbols = 0;
    for (int isLast = 0; !isLast;) {
        DecodedColumn decoded;
        decoded.column = buffer.data();
        isLast = decodeColumn(*decoder, *models, p.capacity, decoded);
        Block b;
        b.column.assign(buffer.begin(), buffer.begin() + decoded.blockLast + 1);
        b.ranks = b.column;
        moveToFrontRanks(b.ranks.data(), decoded.blockLast);
        b.primary = decoded.primaryIndex;
        b.isLast = isLast;
        p.symbols += symbolsOf(b);
        p.blocks.push_back(std::move(b));
    }
    return true;
}

// One timed run: ticks and nanoseconds.
struct Time {
    uint64_t ticks = UINT64_MAX, ns = UINT64_MAX;
    void keepBest(uint64_t t, uint64_t n) {
        if (n < ns) {
            ns = n;
            ticks = t;
        }
    }
};

enum Stage { ENCODE_RANKS, ENCODE_COLUMN, DECODE_RANKS, DECODE_COLUMN, STAGES };
const char *const STAGE_NAMES[STAGES] = {"encode ranks", "encode column", "decode ranks", "decode column"};
const char *const STAGE_KEYS[STAGES] = {"encode-ranks", "encode-column", "decode-ranks", "decode-column"};

// The coder's state lives on the heap (its buffers are 64 KiB each).
struct Coders {
    RangeEncoder encoder;
    RangeDecoder decoder;
    SymbolModels models;
};

bool runEncode(const Picture &p, Coders &c, Bytes &out, bool fromRanks, Time &best) {
    MemorySink sink(out.data(), out.size());
    const uint64_t n0 = nanoseconds(), t0 = ticks();
    c.encoder.start(sink, p.vek.data(), VEK_HEADER_SIZE);
    for (const Block &b : p.blocks) {
        const int32_t last = static_cast<int32_t>(b.column.size()) - 1;
        if (fromRanks)
            encodeRanks(c.encoder, c.models, b.ranks.data(), last, b.primary, b.isLast);
        else
            encodeColumn(c.encoder, c.models, b.column.data(), last, b.primary, b.isLast);
    }
    c.encoder.finish();
    const uint64_t t1 = ticks(), n1 = nanoseconds();
    best.keepBest(t1 - t0, n1 - n0);
    return sink.length() == p.vek.size() && std::memcmp(out.data(), p.vek.data(), p.vek.size()) == 0;
}

bool runDecode(const Picture &p, Coders &c, Bytes &buffer, bool toColumn, Time &best) {
    MemorySource source(p.vek.data(), p.vek.size());
    source.seekTo(VEK_HEADER_SIZE);
    bool same = true;
    uint64_t n0 = nanoseconds(), t0 = ticks();
    c.decoder.start(source, source.size() - VEK_HEADER_SIZE);
    c.decoder.startCoder();
    uint64_t spentTicks = ticks() - t0, spentNs = nanoseconds() - n0;
    DecodedColumn decoded;
    decoded.column = buffer.data();
    for (const Block &b : p.blocks) {
        n0 = nanoseconds();
        t0 = ticks();
        const int isLast = decodeRanks(c.decoder, c.models, p.capacity, decoded, toColumn);
        spentTicks += ticks() - t0;
        spentNs += nanoseconds() - n0;
        // Checked block by block, outside the timed part.
        const Bytes &want = decoded.ranks ? b.ranks : b.column;
        same = same && isLast == b.isLast && static_cast<size_t>(decoded.blockLast) + 1 == want.size() &&
               std::memcmp(buffer.data(), want.data(), want.size()) == 0;
    }
    best.keepBest(spentTicks, spentNs);
    return same;
}

std::map<std::string, double> readBaseline(const std::string &path) {
    std::map<std::string, double> values;
    std::ifstream in(path);
    std::string name, key;
    double cycles;
    while (in >> name >> key >> cycles) values[name + " " + key] = cycles;
    return values;
}

} // namespace

int main(int argc, char **argv) {
    int reps = 9;
    std::string savePath, baselinePath;
    std::vector<std::string> files;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        if (a == "--reps" && k + 1 < argc)
            reps = std::max(1, std::atoi(argv[++k]));
        else if (a == "--save" && k + 1 < argc)
            savePath = argv[++k];
        else if (a == "--baseline" && k + 1 < argc)
            baselinePath = argv[++k];
        else
            files.push_back(a);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s [--reps N] [--save FILE] [--baseline FILE] picture.bmp...\n", argv[0]);
        return 2;
    }
    const std::map<std::string, double> baseline =
        baselinePath.empty() ? std::map<std::string, double>() : readBaseline(baselinePath);
    std::ostringstream saved;
    std::unique_ptr<Coders> coders(new Coders);
    uint64_t allTicks = 0, allNs = 0;
    bool allSame = true;
    struct Row {
        std::string name;
        uint64_t symbols;
        Time times[STAGES];
    };
    std::vector<Row> rows;
    for (const std::string &path : files) {
        Picture p;
        if (!preparePicture(path, p)) return 1;
        Row row{p.name, p.symbols, {}};
        Bytes out(p.vek.size() + IO_BUFFER_SIZE), buffer(p.capacity);
        // The stages take turns, so that a busy spell of the machine spreads
        // over all of them.
        for (int r = 0; r < reps; ++r) {
            allSame &= runEncode(p, *coders, out, true, row.times[ENCODE_RANKS]);
            allSame &= runEncode(p, *coders, out, false, row.times[ENCODE_COLUMN]);
            allSame &= runDecode(p, *coders, buffer, false, row.times[DECODE_RANKS]);
            allSame &= runDecode(p, *coders, buffer, true, row.times[DECODE_COLUMN]);
        }
        for (const Time &t : row.times) {
            allTicks += t.ticks;
            allNs += t.ns;
        }
        rows.push_back(row);
    }
#ifdef VEK_BENCH_TSC
    const double ticksPerNs = static_cast<double>(allTicks) / static_cast<double>(allNs);
    std::printf("cycles: time-stamp counter (reference cycles at its fixed rate, %.2f GHz measured here; not the "
                "core clock)\n",
                ticksPerNs);
#else
    std::printf("no time-stamp counter: cycles not measured\n");
#endif
    std::printf("best of %d repetitions\n\n", reps);
    std::printf("%-24s %-14s %10s %8s %9s%s\n", "picture", "stage", "symbols", "ns/sym", "cyc/sym",
                baseline.empty() ? "" : "  vs baseline");
    for (const Row &row : rows) {
        for (int s = 0; s < STAGES; ++s) {
            const double symbols = static_cast<double>(row.symbols);
            const double ns = static_cast<double>(row.times[s].ns) / symbols;
            const double cycles = static_cast<double>(row.times[s].ticks) / symbols;
            std::printf("%-24s %-14s %10llu %8.2f %9.2f", row.name.c_str(), STAGE_NAMES[s],
                        static_cast<unsigned long long>(row.symbols), ns, cycles);
            const auto base = baseline.find(row.name + " " + STAGE_KEYS[s]);
            if (base != baseline.end()) std::printf("  %.3f", cycles / base->second);
            std::printf("\n");
            saved << row.name << ' ' << STAGE_KEYS[s] << ' ' << cycles << '\n';
        }
    }
    if (!savePath.empty()) std::ofstream(savePath) << saved.str();
    if (!allSame) {
        std::printf("\nFAILED: a repetition did not give back the same stream or blocks\n");
        return 1;
    }
    return 0;
}
