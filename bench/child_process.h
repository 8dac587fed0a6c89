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

// A competing process that keeps one processor busy: a forked child spinning
// in a loop until stop(), or until this process ends (it is killed along with
// its parent).
class BusyLoad {
public:
    BusyLoad() = default;
    BusyLoad(const BusyLoad &) = delete;
    BusyLoad &operator=(const BusyLoad &) = delete;
    ~BusyLoad() { stop(); }

    bool start();
    // Kills the child and waits for it; false when none was running.
    bool stop();
    int pid() const { return pid_; }
    // Of the child's life: wall-clock seconds, and processor seconds it got.
    double wallSeconds() const { return wall_; }
    double processorSeconds() const { return processor_; }

private:
    int pid_ = -1;
    double started_ = 0, wall_ = 0, processor_ = 0;
};

} // namespace vekbench

#endif
