// The benchmark of a folder of pictures at process level: `vekconv e` /
// `vekconv d` (once with VEK_THREADS=1, once with the default threads) next to
// `bzip2 -9` / `bzip2 -d` and `lbzip2 -9 -n 2` / `lbzip2 -d -n 2`, each run as
// a process on files in a temporary folder.
#ifndef VEK_BENCH_PROCESS_BENCH_H
#define VEK_BENCH_PROCESS_BENCH_H

#include <string>
#include <vector>

namespace vekbench {

struct ProcessBenchOptions {
    int rounds = 3;
    // Keep one processor busy with a competing process while measuring.
    bool load = false;
    // Where to write the SVG chart of the speed ratios; none when empty.
    std::string svgPath;
};

// Measures every picture in `files`, working in the folder `work`; prints
// the report. Returns 0 when every run succeeded, every decode gave the
// original back and the chart (if asked for) was written.
int runProcessBench(const std::vector<std::string> &files, const std::string &vekconv, const std::string &work,
                    const ProcessBenchOptions &options);

} // namespace vekbench

#endif
