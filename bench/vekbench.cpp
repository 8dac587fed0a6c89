// vekbench: compression benchmark of the VEK codec next to bzip2.
//
//   vekbench [--repeat N] [--load] [--svg FILE] FOLDER
//   vekbench [--repeat N] [--wall] [--keep DIR]
//
// With a FOLDER (for instance the set of real pictures that
// bench/make-real-set.sh builds), every *.bmp file in it is measured at
// process level: the whole-process wall-clock time, processor time and peak
// memory of `vekconv e` / `vekconv d` (run once with VEK_THREADS=1 and once
// with the default threads), `bzip2 -9` / `bzip2 -d` and `lbzip2 -9 -n 2` /
// `lbzip2 -d -n 2`, in N rounds (default 3) where the runs take turns, each
// keeping its median round (process_bench.cpp). --load keeps one processor
// busy with a competing process meanwhile; --svg writes a chart of each
// picture's speed against bzip2 and lbzip2.
//
// Without one, a generated set (regular pictures of a few MB and an
// adversarial set) is written to DIR (--keep) or to a temporary folder and
// measured in this process: compressed sizes, encode and decode times and
// throughputs of VEK and of bzip2 -9 / bzip2 -d (libbz2, each including the
// reading and writing of its files), the peak memory of a VEK encode (peak
// resident set of a child process that only encodes), and the adversarial
// pictures' time per byte against random noise. Each time is the fastest of
// N runs, in processor time of this process (user and system), or in
// wall-clock time with --wall. Every decoded picture is checked against the
// original.
//
// The codec is driven the way the front ends drive it: libvek.so is loaded
// at run time from the program's folder and used through its exported
// constructor and the codec object's operations (encodeFile, decodeFile);
// vekconv is taken from the same folder.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bzlib.h>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "module_loader.h"
#include "picture_generator.h"
#include "process_bench.h"
#include "speed_targets.h"
#include "vek/vek.h"

using vekbench::Bytes;
using vekbench::metOrMissed;

namespace {

const double MB = 1e6;
const double MIB = 1024.0 * 1024.0;
const uint32_t BLOCK_UNIT = 8192;

bool readWhole(const std::string &path, Bytes *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool writeWhole(const std::string &path, const Bytes &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

long fileSize(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

bool useWallClock = false;

// Seconds of processor time used by this process (user and system), or of
// wall-clock time with --wall. Processor time is the fairer measure on a
// machine shared with other work: waiting for a processor does not count.
double clockSeconds() {
    struct timespec ts;
    clock_gettime(useWallClock ? CLOCK_MONOTONIC : CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Times one call, keeping the fastest time so far in *seconds; false if the
// call failed.
bool timeCall(const std::function<bool()> &call, double *seconds) {
    const double start = clockSeconds();
    if (!call()) return false;
    *seconds = std::min(*seconds, clockSeconds() - start);
    return true;
}

struct Library {
    platform::ModuleHandle module = nullptr;
    VekCodecInterface *codec = nullptr;
    VekDestructorFn destroy = nullptr;

    bool open() {
        module = platform::loadLibrary(VEK_LIBRARY_NAME);
        if (module == nullptr) return false;
        auto construct = reinterpret_cast<VekConstructorFn>(platform::getProcAddress(module, VEK_CONSTRUCTOR_NAME));
        destroy = reinterpret_cast<VekDestructorFn>(platform::getProcAddress(module, VEK_DESTRUCTOR_NAME));
        if (construct == nullptr || destroy == nullptr) return false;
        codec = construct();
        return codec != nullptr;
    }
    ~Library() {
        if (codec != nullptr) destroy(codec);
        platform::freeLibrary(module);
    }
};

// Peak resident set of this process image, in bytes (VmHWM: unlike the
// rusage figure it does not count what a forked child inherited before it
// started this program).
double ownPeakMemory() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0) return std::atof(line.c_str() + 6) * 1024.0;
    return -1;
}

// Child mode: one encode, then its peak memory on standard output.
int encodeChild(const char *input, const char *output) {
    Library lib;
    if (!lib.open()) return 2;
    if (!lib.codec->encodeFile(input, output)) return 1;
    std::printf("%.0f\n", ownPeakMemory());
    return 0;
}

// Peak resident set (bytes) of a child process that loads the library and
// encodes `input`; -1 on failure.
double encoderPeakMemory(const std::string &self, const std::string &input, const std::string &output) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execl(self.c_str(), self.c_str(), "--encode-child", input.c_str(), output.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = ::read(fds[0], buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<size_t>(got));
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return text.empty() ? -1 : std::atof(text.c_str());
}

bool bzipCompress(const std::string &input, const std::string &output) {
    Bytes data;
    if (!readWhole(input, &data)) return false;
    unsigned int length = static_cast<unsigned int>(data.size() + data.size() / 100 + 600);
    Bytes packed(length);
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(packed.data()), &length, reinterpret_cast<char *>(data.data()),
                                 static_cast<unsigned int>(data.size()), 9, 0, 0) != BZ_OK)
        return false;
    packed.resize(length);
    return writeWhole(output, packed);
}

bool bzipDecompress(const std::string &input, const std::string &output, size_t originalSize) {
    Bytes packed;
    if (!readWhole(input, &packed)) return false;
    unsigned int length = static_cast<unsigned int>(originalSize);
    Bytes data(originalSize);
    if (BZ2_bzBuffToBuffDecompress(reinterpret_cast<char *>(data.data()), &length, reinterpret_cast<char *>(packed.data()),
                                   static_cast<unsigned int>(packed.size()), 0, 0) != BZ_OK)
        return false;
    data.resize(length);
    return writeWhole(output, data);
}

struct Measure {
    std::string name;
    double bytes = 0;
    double vekBytes = 0, bzBytes = 0;
    double vekEncode = 0, bzEncode = 0;
    double vekDecode = 0, bzDecode = 0;
    double peak = -1, limit = 0;
    uint32_t blockFactor = 0;
    bool ok = false;
    bool adversarial() const { return name.compare(0, 4, "adv-") == 0; }
};

std::string baseName(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool measure(Library &lib, const std::string &self, const std::string &path, const std::string &work, int runs, Measure *m) {
    m->name = baseName(path);
    Bytes original;
    if (!readWhole(path, &original)) return false;
    m->bytes = static_cast<double>(original.size());
    const std::string vek = work + "/bench.vek", restored = work + "/bench.bmp", bz = work + "/bench.bz2",
                      unbz = work + "/bench.unbz2";

    // The four operations take turns, round after round, so that a stretch
    // where the machine runs slower costs both codecs alike; each keeps its
    // fastest round.
    m->vekEncode = m->vekDecode = m->bzEncode = m->bzDecode = 1e30;
    for (int round = 0; round < runs; ++round) {
        if (!timeCall([&] { return lib.codec->encodeFile(path.c_str(), vek.c_str()) != 0; }, &m->vekEncode)) {
            std::printf("%s: the codec refused to encode it\n", path.c_str());
            return false;
        }
        if (!timeCall([&] { return bzipCompress(path, bz); }, &m->bzEncode)) return false;
        if (!timeCall([&] { return lib.codec->decodeFile(vek.c_str(), restored.c_str()) != 0; }, &m->vekDecode))
            return false;
        if (!timeCall([&] { return bzipDecompress(bz, unbz, original.size()); }, &m->bzDecode)) return false;
    }
    m->vekBytes = static_cast<double>(fileSize(vek));
    m->bzBytes = static_cast<double>(fileSize(bz));

    // The restored picture: headers rebuilt by the decoder, data bytes as given.
    Bytes back, header;
    if (!readWhole(restored, &back) || back.size() < 54 || back.size() > original.size() ||
        !std::equal(back.begin() + 54, back.end(), original.begin() + 54)) {
        std::printf("%s: the decoded picture differs from the original\n", path.c_str());
        return false;
    }
    if (!readWhole(vek, &header) || header.size() < 12) return false;
    m->blockFactor = header[6];
    m->limit = 10.0 * m->blockFactor * BLOCK_UNIT + 16 * MIB;
    m->peak = encoderPeakMemory(self, path, work + "/child.vek");
    m->ok = true;
    return true;
}

std::vector<std::string> bmpFiles(const std::string &folder) {
    std::vector<std::string> files;
    DIR *dir = ::opendir(folder.c_str());
    if (dir == nullptr) return files;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".bmp") == 0 || name.compare(name.size() - 4, 4, ".BMP") == 0))
            files.push_back(folder + "/" + name);
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

std::string makeTempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vekbench.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) return std::string();
    return buffer.data();
}

void removeTree(const std::string &folder) {
    for (const char *name : {"bench.vek", "bench.bmp", "bench.bz2", "bench.unbz2", "child.vek"}) ::unlink((folder + "/" + name).c_str());
    for (const std::string &f : bmpFiles(folder)) ::unlink(f.c_str());
    ::rmdir(folder.c_str());
}

void printReport(const std::vector<Measure> &all) {
    std::printf("\nEncode (%s seconds, fastest run; x = bzip2 time / VEK time, above 1 means VEK is faster)\n",
                useWallClock ? "wall-clock" : "processor");
    std::printf("%-18s %9s %9s %9s %8s %7s %8s %7s %6s\n", "picture", "bytes", "VEK", "bzip2-9", "VEK s", "MB/s", "bzip2 s",
                "MB/s", "x");
    for (const Measure &m : all)
        std::printf("%-18s %9.0f %9.0f %9.0f %8.3f %7.1f %8.3f %7.1f %6.2f\n", m.name.c_str(), m.bytes, m.vekBytes, m.bzBytes,
                    m.vekEncode, m.bytes / MB / m.vekEncode, m.bzEncode, m.bytes / MB / m.bzEncode, m.bzEncode / m.vekEncode);

    std::printf("\nDecode, and peak memory of an encode (limit = 10 x block capacity + 16 MiB)\n");
    std::printf("%-18s %8s %7s %8s %7s %6s %5s %9s %9s\n", "picture", "VEK s", "MB/s", "bzip2 s", "MB/s", "x", "BF", "peak MiB",
                "limit MiB");
    for (const Measure &m : all)
        std::printf("%-18s %8.3f %7.1f %8.3f %7.1f %6.2f %5u %9.1f %9.1f\n", m.name.c_str(), m.vekDecode,
                    m.bytes / MB / m.vekDecode, m.bzDecode, m.bytes / MB / m.bzDecode, m.bzDecode / m.vekDecode, m.blockFactor,
                    m.peak / MIB, m.limit / MIB);

    // Targets.
    double regularBytes = 0, regularVek = 0, regularBz = 0, vekAll = 0, bzAll = 0;
    double slowestRegular = 1e30, slowestDecode = 1e30;
    bool memoryOk = true;
    std::string slowestRegularName, slowestDecodeName;
    for (const Measure &m : all) {
        vekAll += m.vekEncode;
        bzAll += m.bzEncode;
        if (!m.adversarial()) {
            regularBytes += m.bytes;
            regularVek += m.vekEncode;
            regularBz += m.bzEncode;
            if (m.bzEncode / m.vekEncode < slowestRegular) {
                slowestRegular = m.bzEncode / m.vekEncode;
                slowestRegularName = m.name;
            }
        }
        if (m.bzDecode / m.vekDecode < slowestDecode) {
            slowestDecode = m.bzDecode / m.vekDecode;
            slowestDecodeName = m.name;
        }
        if (m.peak < 0 || m.peak > m.limit) memoryOk = false;
    }
    std::printf("\nTargets\n");
    if (regularVek > 0) {
        std::printf("  encode faster than bzip2 -9 on every regular picture: least x = %.2f (%s): %s\n", slowestRegular,
                    slowestRegularName.c_str(), metOrMissed(slowestRegular > 1));
        std::printf("  encode over the regular set (%.1f MB): VEK %.2f s, bzip2 -9 %.2f s, x = %.2f (want >= 2): %s\n",
                    regularBytes / MB, regularVek, regularBz, regularBz / regularVek,
                    metOrMissed(regularBz / regularVek >= 2));
    }
    std::printf("  encode over all pictures: VEK %.2f s, bzip2 -9 %.2f s, x = %.2f\n", vekAll, bzAll, bzAll / vekAll);
    std::printf("  decode at least as fast as bzip2 -d on every picture: least x = %.2f (%s): %s\n", slowestDecode,
                slowestDecodeName.c_str(), metOrMissed(slowestDecode >= 1));
    std::printf("  peak encoder memory within 10 x block capacity + 16 MiB on every picture: %s\n",
                metOrMissed(memoryOk));

    const Measure *noise = nullptr;
    for (const Measure &m : all)
        if (m.name == "adv-noise") noise = &m;
    if (noise != nullptr) {
        const double base = noise->vekEncode / noise->bytes;
        double worst = 0;
        std::printf("  adversarial encode time per byte against random noise of the same size (want <= 3):\n");
        for (const Measure &m : all) {
            if (!m.adversarial() || &m == noise) continue;
            const double ratio = m.vekEncode / m.bytes / base;
            worst = std::max(worst, ratio);
            std::printf("    %-18s %6.1f ns/byte  %5.2f x noise%s\n", m.name.c_str(), m.vekEncode / m.bytes * 1e9, ratio,
                        m.bytes == noise->bytes ? "" : "  (size differs from the noise picture)");
        }
        std::printf("    %-18s %6.1f ns/byte\n", noise->name.c_str(), base * 1e9);
        std::printf("  worst adversarial picture %.2f x noise: %s\n", worst, metOrMissed(worst <= 3));
    }
}

int usage() {
    std::printf("usage: vekbench [--repeat N] [--load] [--svg FILE] FOLDER\n"
                "       vekbench [--repeat N] [--wall] [--keep DIR]\n"
                "  FOLDER      run vekconv, bzip2 and lbzip2 as processes on every .bmp file in it\n"
                "              and report the median of N rounds (default: a generated set, in-process)\n"
                "  --load      FOLDER: keep one processor busy with a competing process while measuring\n"
                "  --svg FILE  FOLDER: write a chart of each picture's speed against bzip2 and lbzip2\n"
                "  --keep DIR  write the generated set to DIR and keep it there\n"
                "  --repeat N  rounds (default 3; --rounds N is the same); the generated set reports the fastest\n"
                "  --wall      generated set: wall-clock time instead of processor time\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--encode-child") == 0) return encodeChild(argv[2], argv[3]);

    int runs = 3;
    bool load = false;
    std::string folder, keep, svg;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--repeat" || arg == "--rounds") && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--load") {
            load = true;
        } else if (arg == "--svg" && i + 1 < argc) {
            svg = argv[++i];
        } else if (arg == "--wall") {
            useWallClock = true;
        } else if (arg == "--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return usage();
        } else {
            folder = arg;
        }
    }

    char selfPath[4096];
    const ssize_t selfLength = ::readlink("/proc/self/exe", selfPath, sizeof(selfPath) - 1);
    if (selfLength <= 0) return 1;
    selfPath[selfLength] = '\0';

    if (folder.empty() && (load || !svg.empty())) return usage();
    if (!folder.empty()) {
        if (useWallClock || !keep.empty()) return usage();
        const std::vector<std::string> files = bmpFiles(folder);
        if (files.empty()) {
            std::printf("no .bmp files in %s\n", folder.c_str());
            return 1;
        }
        std::string vekconv = selfPath;
        vekconv = vekconv.substr(0, vekconv.find_last_of('/') + 1) + "vekconv";
        const std::string work = makeTempDir();
        if (work.empty()) return 1;
        vekbench::ProcessBenchOptions options;
        options.rounds = runs;
        options.load = load;
        options.svgPath = svg;
        const int status = vekbench::runProcessBench(files, vekconv, work, options);
        ::rmdir(work.c_str());
        return status;
    }

    Library lib;
    if (!lib.open()) {
        std::printf("cannot load the codec library (%s)\n", platform::moduleFileName(VEK_LIBRARY_NAME).c_str());
        return 1;
    }
    const std::string work = makeTempDir();
    if (work.empty()) return 1;

    std::vector<std::string> files;
    {
        const std::string target = keep.empty() ? work : keep;
        ::mkdir(target.c_str(), 0755);
        std::printf("generating pictures in %s\n", target.c_str());
        std::vector<vekbench::GeneratedPicture> set = vekbench::regularPictures();
        for (auto &p : vekbench::adversarialPictures()) set.push_back(std::move(p));
        for (const auto &p : set) {
            const std::string path = target + "/" + p.name + ".bmp";
            if (!writeWhole(path, p.file)) return 1;
            files.push_back(path);
            std::printf("  %-18s %9zu bytes  %s\n", p.name.c_str(), p.file.size(), p.what.c_str());
        }
    }

    std::printf("VEK codec version %x.%02x, bzip2 library %s, fastest of %d runs, %s time\n", lib.codec->getVersion() >> 8,
                lib.codec->getVersion() & 0xFF, BZ2_bzlibVersion(), runs, useWallClock ? "wall-clock" : "processor");
    std::vector<Measure> all;
    bool failed = false;
    for (const std::string &path : files) {
        Measure m;
        std::fflush(stdout);
        if (measure(lib, selfPath, path, work, runs, &m))
            all.push_back(m);
        else
            failed = true;
    }
    if (!all.empty()) printReport(all);
    removeTree(work);
    return failed ? 1 : 0;
}
