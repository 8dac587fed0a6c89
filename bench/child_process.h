// Runs a program as a child process and measures it: wall-clock time from
// fork to the end of wait4, processor time (user and system) and peak
// resident set from the child's resource usage.
#ifndef VEK_BENCH_CHILD_PROCESS_H
#define VEK_BENCH_CHILD_PROCESS_H

#include <string>
#include <vector>

namespace vekbench {

struct ChildRun {
    bool ok = false;        // started, exited normally with status 0
    double wall = 0;        // seconds
    double processor = 0;   // seconds, user + system
    double peakBytes = 0;   // ru_maxrss of the child
};

struct ChildCommand {
    std::vector<std::string> argv;  // argv[0] is looked up in PATH unless it holds a slash
    std::string stdoutPath;         // standard output goes to this file (truncated)
    std::string stderrPath;         // standard error goes to this file (truncated)
    bool setThreads = false;        // VEK_THREADS=threads when set, removed from the environment otherwise
    std::string threads;
};

ChildRun runChild(const ChildCommand &command);

// Whether a program can be found the way runChild finds it.
bool programExists(const std::string &name);

} // namespace vekbench

#endif
