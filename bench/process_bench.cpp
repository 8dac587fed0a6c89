#include "process_bench.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "speed_chart.h"
#include "speed_targets.h"

namespace vekbench {

namespace {

const double MB = 1e6;
const double MIB = 1024.0 * 1024.0;
const double BLOCK_UNIT = 8192;
const size_t BMP_HEADERS_SIZE = 54;
const size_t VEK_BLOCK_FACTOR_OFFSET = 6;

const char *const COLUMN[4] = {"VEK-1", "VEK-n", "bzip2", "lbzip2"};

struct Sample {
    double wall = 0, processor = 0, peak = 0;
};

struct Picture {
    std::string name;
    double bytes = 0;
    unsigned bits = 0;
    double vekBytes = 0, bzip2Bytes = 0, lbzip2Bytes = 0;
    double blockBytes = 0;
    std::vector<Sample> runs[OPS];
    Sample result[OPS];  // median wall and processor time, largest peak
};

long fileSize(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string baseName(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool copyFile(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!in || !out) return false;
    out << in.rdbuf();
    return static_cast<bool>(out);
}

// Whether bytes [begin, end) of two files are equal; both must reach `end`.
bool sameBytes(const std::string &a, const std::string &b, long begin, long end) {
    if (fileSize(a) < end || fileSize(b) < end) return false;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    fa.seekg(begin);
    fb.seekg(begin);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (long at = begin; at < end;) {
        const long n = std::min<long>(end - at, static_cast<long>(ba.size()));
        if (!fa.read(ba.data(), n) || !fb.read(bb.data(), n) || !std::equal(ba.begin(), ba.begin() + n, bb.begin()))
            return false;
        at += n;
    }
    return true;
}

bool sameFile(const std::string &a, const std::string &b) {
    const long size = fileSize(a);
    return size >= 0 && size == fileSize(b) && sameBytes(a, b, 0, size);
}

uint32_t le(const unsigned char *p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

// End of a BMP file's pixel rows (header offset plus rows), and its bits
// per pixel; false when the file is too short to hold its headers.
bool bmpLayout(const std::string &path, long *dataEnd, unsigned *bits) {
    unsigned char h[BMP_HEADERS_SIZE];
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char *>(h), sizeof(h))) return false;
    const long offBits = le(h + 10, 4);
    const long width = std::labs(static_cast<int32_t>(le(h + 18, 4)));
    const long height = std::labs(static_cast<int32_t>(le(h + 22, 4)));
    *bits = le(h + 28, 2);
    *dataEnd = offBits + (width * *bits + 31) / 32 * 4 * height;
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string lastLine(const std::string &path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    return last;
}

// Resident set of this process now, in bytes.
double ownResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atof(line.c_str() + 6) * 1024.0;
    return 0;
}

class PictureRun {
public:
    PictureRun(const std::string &vekconv, const std::string &work) : vekconv_(vekconv), work_(work) {}

    // Measures one picture; false (after saying why) when a run failed or a
    // decode did not give the original back.
    bool measure(const std::string &path, int rounds, Picture *p) {
        p->name = baseName(path);
        if (!copyFile(path, file("in.bmp"))) return failed(path, "cannot copy it into " + work_);
        p->bytes = static_cast<double>(fileSize(file("in.bmp")));
        for (int round = 0; round < rounds; ++round)
            for (int op = 0; op < OPS; ++op) {
                const ChildRun run = runChild(command(static_cast<Op>(op)));
                if (!run.ok)
                    return failed(path, "`" + commandLine(static_cast<Op>(op)) + "` failed: " + lastLine(file("err.txt")) +
                                            lastLine(file("out.txt")));
                p->runs[op].push_back({run.wall, run.processor, run.peakBytes});
            }
        for (int op = 0; op < OPS; ++op) {
            std::vector<double> wall, processor;
            for (const Sample &s : p->runs[op]) {
                wall.push_back(s.wall);
                processor.push_back(s.processor);
                p->result[op].peak = std::max(p->result[op].peak, s.peak);
            }
            p->result[op].wall = median(wall);
            p->result[op].processor = median(processor);
        }
        p->vekBytes = static_cast<double>(fileSize(file("v1.vek")));
        p->bzip2Bytes = static_cast<double>(fileSize(file("in.bz2")));
        p->lbzip2Bytes = static_cast<double>(fileSize(file("in.lbz2")));
        unsigned char vekHeader[VEK_BLOCK_FACTOR_OFFSET + 1] = {0};
        std::ifstream(file("v1.vek"), std::ios::binary).read(reinterpret_cast<char *>(vekHeader), sizeof(vekHeader));
        p->blockBytes = vekHeader[VEK_BLOCK_FACTOR_OFFSET] * BLOCK_UNIT;

        // The restored picture's headers are rebuilt by the decoder; its
        // colour table and rows must be the original's.
        long dataEnd = 0;
        if (!bmpLayout(file("in.bmp"), &dataEnd, &p->bits)) return failed(path, "not a BMP file");
        const long checkedEnd = std::min(dataEnd, fileSize(file("in.bmp")));
        const long headers = static_cast<long>(BMP_HEADERS_SIZE);
        if (!sameBytes(file("in.bmp"), file("r1.bmp"), headers, checkedEnd))
            return failed(path, "vekconv d with VEK_THREADS=1 did not give the original data bytes back");
        if (!sameBytes(file("in.bmp"), file("rn.bmp"), headers, checkedEnd))
            return failed(path, "vekconv d with the default threads did not give the original data bytes back");
        if (!sameFile(file("v1.vek"), file("vn.vek")))
            return failed(path, "vekconv e wrote different files with VEK_THREADS=1 and with the default threads");
        if (!sameFile(file("in.bmp"), file("bzip2.bmp"))) return failed(path, "bzip2 -d did not give the original back");
        if (!sameFile(file("in.bmp"), file("lbzip2.bmp"))) return failed(path, "lbzip2 -d did not give the original back");
        return true;
    }

    void cleanUp() const {
        for (const char *name : {"in.bmp", "v1.vek", "vn.vek", "in.bz2", "in.lbz2", "r1.bmp", "rn.bmp", "bzip2.bmp",
                                 "lbzip2.bmp", "out.txt", "err.txt"})
            ::unlink(file(name).c_str());
    }

private:
    std::string file(const char *name) const { return work_ + "/" + name; }

    bool failed(const std::string &path, const std::string &why) const {
        std::printf("%s: %s\n", path.c_str(), why.c_str());
        return false;
    }

    ChildCommand command(Op op) const {
        ChildCommand s;
        s.stdoutPath = file("out.txt");
        s.stderrPath = file("err.txt");
        switch (op) {
        case VEK1_ENCODE:
        case VEKN_ENCODE:
            s.argv = {vekconv_, "e", file("in.bmp"), file(op == VEK1_ENCODE ? "v1.vek" : "vn.vek")};
            break;
        case VEK1_DECODE:
        case VEKN_DECODE:
            s.argv = {vekconv_, "d", file(op == VEK1_DECODE ? "v1.vek" : "vn.vek"), file(op == VEK1_DECODE ? "r1.bmp" : "rn.bmp")};
            break;
        case BZIP2_ENCODE:
            s.argv = {"bzip2", "-9", "-k", "-c", file("in.bmp")};
            s.stdoutPath = file("in.bz2");
            break;
        case LBZIP2_ENCODE:
            s.argv = {"lbzip2", "-9", "-n", "2", "-k", "-c", file("in.bmp")};
            s.stdoutPath = file("in.lbz2");
            break;
        case BZIP2_DECODE:
            s.argv = {"bzip2", "-d", "-k", "-c", file("in.bz2")};
            s.stdoutPath = file("bzip2.bmp");
            break;
        case LBZIP2_DECODE:
            s.argv = {"lbzip2", "-d", "-n", "2", "-k", "-c", file("in.lbz2")};
            s.stdoutPath = file("lbzip2.bmp");
            break;
        case OPS:
            break;
        }
        s.setThreads = op == VEK1_ENCODE || op == VEK1_DECODE;
        s.threads = "1";
        return s;
    }

    std::string commandLine(Op op) const {
        const ChildCommand s = command(op);
        std::string line = s.setThreads ? "VEK_THREADS=1 " : "";
        for (const std::string &a : s.argv) line += a + " ";
        return line.substr(0, line.size() - 1);
    }

    std::string vekconv_, work_;
};

// One timing table: the four sides' times from `first` on, and the ratios.
void printTimes(const std::vector<Picture> &all, int first, bool wall, const char *title) {
    std::printf("\n%s\n", title);
    std::printf("%-22s %8s %8s %8s %8s %7s %7s %7s\n", "picture", COLUMN[0], COLUMN[1], COLUMN[2], COLUMN[3], "bz/V1", "bz/Vn",
                "lbz/Vn");
    double total[4] = {0, 0, 0, 0};
    auto row = [&](const char *name, const double t[4]) {
        std::printf("%-22s %8.3f %8.3f %8.3f %8.3f %7.2f %7.2f %7.2f\n", name, t[0], t[1], t[2], t[3], ratioOf(t[2], t[0]),
                    ratioOf(t[2], t[1]), ratioOf(t[3], t[1]));
    };
    for (const Picture &p : all) {
        double t[4];
        for (int i = 0; i < 4; ++i) {
            t[i] = wall ? p.result[first + i].wall : p.result[first + i].processor;
            total[i] += t[i];
        }
        row(p.name.c_str(), t);
    }
    row("total", total);
}

std::vector<PictureTimes> wallTimes(const std::vector<Picture> &all) {
    std::vector<PictureTimes> times;
    for (const Picture &p : all) {
        PictureTimes t;
        t.name = p.name;
        for (int op = 0; op < OPS; ++op) t.seconds[op] = p.result[op].wall;
        times.push_back(t);
    }
    return times;
}

void printReport(const std::vector<Picture> &all, int rounds, double ownBytes, bool underLoad) {
    double bytes = 0, vekBytes = 0, bzip2Bytes = 0, lbzip2Bytes = 0;
    std::printf("\nSizes (bytes)\n%-22s %4s %10s %10s %10s %10s %7s\n", "picture", "bits", "picture", "VEK", "bzip2 -9",
                "lbzip2 -9", "VEK/bz");
    for (const Picture &p : all) {
        std::printf("%-22s %4u %10.0f %10.0f %10.0f %10.0f %7.3f\n", p.name.c_str(), p.bits, p.bytes, p.vekBytes, p.bzip2Bytes,
                    p.lbzip2Bytes, ratioOf(p.vekBytes, p.bzip2Bytes));
        bytes += p.bytes;
        vekBytes += p.vekBytes;
        bzip2Bytes += p.bzip2Bytes;
        lbzip2Bytes += p.lbzip2Bytes;
    }
    std::printf("%-22s %4s %10.0f %10.0f %10.0f %10.0f %7.3f\n", "total", "", bytes, vekBytes, bzip2Bytes, lbzip2Bytes,
                ratioOf(vekBytes, bzip2Bytes));

    std::printf("\nVEK-1 = vekconv with VEK_THREADS=1, VEK-n = vekconv with the default threads (VEK_THREADS unset);\n"
                "bzip2 = bzip2 -9 / bzip2 -d, lbzip2 = lbzip2 -9 -n 2 / lbzip2 -d -n 2. Median of %d round%s;\n"
                "x columns = peer time / VEK time, above 1 means VEK is faster.\n",
                rounds, rounds == 1 ? "" : "s");
    printTimes(all, VEK1_ENCODE, true, "Encode, wall-clock seconds of the whole process");
    printTimes(all, VEK1_DECODE, true, "Decode, wall-clock seconds of the whole process");
    printTimes(all, VEK1_ENCODE, false, "Encode, processor seconds (user + system)");
    printTimes(all, VEK1_DECODE, false, "Decode, processor seconds (user + system)");

    std::printf("\nPeak memory (MiB, largest of the rounds; limit = 20 x block bytes + 16 MiB; each figure includes\n"
                "up to %.1f MiB that the benchmark process held when it started the child)\n",
                ownBytes / MIB);
    std::printf("%-22s %29s   %29s %9s\n", "", "encode", "decode", "");
    std::printf("%-22s %6s %6s %6s %6s   %6s %6s %6s %6s %9s\n", "picture", COLUMN[0], COLUMN[1], COLUMN[2], COLUMN[3], COLUMN[0],
                COLUMN[1], COLUMN[2], COLUMN[3], "limit");
    bool memoryMet = true;
    for (const Picture &p : all) {
        std::printf("%-22s", p.name.c_str());
        for (int op = 0; op < OPS; ++op) std::printf(op == VEK1_DECODE ? "   %6.1f" : " %6.1f", p.result[op].peak / MIB);
        const double limit = 20 * p.blockBytes + 16 * MIB;
        std::printf(" %9.1f\n", limit / MIB);
        for (Op op : {VEK1_ENCODE, VEKN_ENCODE, VEK1_DECODE, VEKN_DECODE})
            if (p.result[op].peak > limit) memoryMet = false;
    }

    // Against the targets of the speed work, on the wall-clock times.
    std::printf("\nTargets (wall-clock time, %.1f MB in %zu pictures%s)\n", bytes / MB, all.size(),
                underLoad ? ", under load" : "");
    for (const TargetCheck &t : speedTargets(wallTimes(all)))
        std::printf("  %s: %s\n", t.what.c_str(), metOrMissed(t.met));
    std::printf("  VEK peak memory within 20 x block bytes + 16 MiB on every picture: %s\n", metOrMissed(memoryMet));
}

std::string localTime() {
    char text[32];
    const std::time_t now = std::time(nullptr);
    struct tm local;
    if (::localtime_r(&now, &local) == nullptr || std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M", &local) == 0) return "";
    return text;
}

} // namespace

int runProcessBench(const std::vector<std::string> &files, const std::string &vekconv, const std::string &work,
                    const ProcessBenchOptions &options) {
    for (const std::string &program : {vekconv, std::string("bzip2"), std::string("lbzip2")})
        if (!programExists(program)) {
            std::printf("%s not found%s\n", program.c_str(),
                        program == "lbzip2" || program == "bzip2" ? " (Debian package of the same name; tools/setup.sh installs it)"
                                                                  : "");
            return 1;
        }
    const double ownBytes = ownResidentBytes();
    const int rounds = options.rounds;
    const std::string started = localTime();
    BusyLoad load;
    if (options.load && !load.start()) {
        std::printf("cannot start the load process\n");
        return 1;
    }
    if (options.load)
        std::printf("UNDER LOAD: a busy-loop process (pid %d) competes for the processors from the first round to the end\n",
                    load.pid());
    std::printf("%zu pictures, %d round%s, started %s; in each round the eight runs take turns (VEK-1, VEK-n, bzip2,\n"
                "lbzip2 encode, then the same decodes), so that a stretch where the machine runs slower costs every side alike\n",
                files.size(), rounds, rounds == 1 ? "" : "s", started.c_str());
    PictureRun runner(vekconv, work);
    std::vector<Picture> all;
    bool failed = false;
    for (const std::string &path : files) {
        std::printf("  %s\n", path.c_str());
        std::fflush(stdout);
        Picture p;
        if (runner.measure(path, rounds, &p))
            all.push_back(p);
        else
            failed = true;
        runner.cleanUp();
    }
    if (load.stop())
        std::printf("The load process had %.1f s of processor time in %.1f s (%.0f %% of one processor)\n",
                    load.processorSeconds(), load.wallSeconds(), 100 * ratioOf(load.processorSeconds(), load.wallSeconds()));
    if (!all.empty()) printReport(all, rounds, ownBytes, options.load);
    bool chartFailed = false;
    if (!options.svgPath.empty()) {
        const std::string title = "vekbench " + started + ", " + std::to_string(all.size()) + " pictures, median of " +
                                  std::to_string(rounds) + (rounds == 1 ? " round, " : " rounds, ") +
                                  (options.load ? "UNDER LOAD (one busy process)" : "no added load");
        if (writeSpeedChart(options.svgPath, wallTimes(all), title)) {
            std::printf("\nChart written to %s\n", options.svgPath.c_str());
        } else {
            std::printf("\ncannot write the chart to %s\n", options.svgPath.c_str());
            chartFailed = true;
        }
    }
    if (failed) std::printf("\nSOME PICTURES FAILED (see above)\n");
    return failed || chartFailed ? 1 : 0;
}

} // namespace vekbench
