// Processor load on POSIX systems: Linux's /proc/uptime holds the seconds
// since boot and the idle seconds of all processors together, in steps of
// 10 ms; the thread's own time comes from its processor-time clock, the
// steady one from the monotonic clock. Where there is no /proc/uptime there
// is no reading.
#include "processor_load.h"

#include <cstdio>
#include <ctime>

namespace platform {

namespace {

double seconds(const timespec &time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

} // namespace

LoadReading readProcessorLoad() {
    LoadReading reading;
    timespec own, now;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &own) != 0 || clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return reading;
    std::FILE *file = std::fopen("/proc/uptime", "r");
    if (file == nullptr) return reading;
    double uptime = 0;
    reading.valid = std::fscanf(file, "%lf %lf", &uptime, &reading.idle) == 2;
    std::fclose(file);
    reading.ownTime = seconds(own);
    reading.clock = seconds(now);
    reading.idleStep = 0.01;
    return reading;
}

} // namespace platform
