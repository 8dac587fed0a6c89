// Processor load on POSIX systems: Linux's /proc/uptime holds the seconds
// since boot and the idle seconds of all processors together, in steps of
// 10 ms; the thread's own time comes from its processor-time clock. Where
// there is no /proc/uptime there is no reading.
#include "processor_load.h"

#include <cstdio>
#include <ctime>

namespace platform {

LoadReading readProcessorLoad() {
    LoadReading reading;
    timespec own;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &own) != 0) return reading;
    std::FILE *file = std::fopen("/proc/uptime", "r");
    if (file == nullptr) return reading;
    reading.valid = std::fscanf(file, "%lf %lf", &reading.uptime, &reading.idle) == 2;
    std::fclose(file);
    reading.ownTime = static_cast<double>(own.tv_sec) + static_cast<double>(own.tv_nsec) / 1e9;
    return reading;
}

} // namespace platform
