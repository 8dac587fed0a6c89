#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

extern char **environ;

namespace vekbench {

namespace {

double monotonicSeconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double seconds(const struct timeval &tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

const char THREADS_VARIABLE[] = "VEK_THREADS=";

// Waits for the child `pid` to end, with its exit status and resource usage;
// false when it could not be waited for.
bool reap(pid_t pid, int *status, struct rusage *usage) {
    std::memset(usage, 0, sizeof(*usage));
    pid_t got;
    do {
        got = ::wait4(pid, status, 0, usage);
    } while (got < 0 && errno == EINTR);
    return got == pid;
}

} // namespace

ChildRun runChild(const ChildCommand &command) {
    ChildRun run;
    if (command.argv.empty()) return run;

    // Everything the child needs is prepared before the fork, so that the
    // child only redirects and executes.
    std::vector<char *> args;
    for (const std::string &a : command.argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> environment;
    for (char **e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, THREADS_VARIABLE, sizeof(THREADS_VARIABLE) - 1) != 0) environment.push_back(*e);
    if (command.setThreads) environment.push_back(THREADS_VARIABLE + command.threads);
    std::vector<char *> envp;
    for (const std::string &e : environment) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open(command.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(command.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0 || err < 0) {
        if (in >= 0) ::close(in);
        if (out >= 0) ::close(out);
        if (err >= 0) ::close(err);
        return run;
    }

    const double start = monotonicSeconds();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
        ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(err);
    if (pid < 0) return run;

    int status = 0;
    struct rusage usage;
    const bool reaped = reap(pid, &status, &usage);
    run.wall = monotonicSeconds() - start;
    if (!reaped) return run;
    run.processor = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.peakBytes = static_cast<double>(usage.ru_maxrss) * 1024.0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

bool programExists(const std::string &name) {
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0;
    const char *path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "/usr/bin:/bin";
    size_t from = 0;
    while (from <= rest.size()) {
        size_t colon = rest.find(':', from);
        if (colon == std::string::npos) colon = rest.size();
        const std::string dir = colon > from ? rest.substr(from, colon - from) : ".";
        const std::string candidate = dir + "/" + name;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return true;
        from = colon + 1;
    }
    return false;
}

bool BusyLoad::start() {
    if (pid_ > 0) return true;
    const pid_t parent = ::getpid();
    std::fflush(stdout);
    started_ = monotonicSeconds();
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        // Dies with the benchmark, even if that is killed before stop().
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(0);
        volatile unsigned long spins = 0;
        for (;;) spins = spins + 1;
    }
    pid_ = pid;
    return true;
}

bool BusyLoad::stop() {
    if (pid_ <= 0) return false;
    ::kill(pid_, SIGKILL);
    int status = 0;
    struct rusage usage;
    const bool reaped = reap(pid_, &status, &usage);
    wall_ = monotonicSeconds() - started_;
    processor_ = reaped ? seconds(usage.ru_utime) + seconds(usage.ru_stime) : 0;
    pid_ = -1;
    return true;
}

} // namespace vekbench
