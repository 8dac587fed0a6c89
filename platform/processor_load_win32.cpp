// Processor load on Windows: GetSystemTimes gives the idle time summed over
// the processors, GetThreadTimes the calling thread's own time (both in 100 ns
// units), GetTickCount64 the milliseconds since the system started.
#include "processor_load.h"

#include <windows.h>

namespace platform {

namespace {

double seconds(const FILETIME &time) {
    const ULONGLONG units = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(units) / 1e7;
}

} // namespace

LoadReading readProcessorLoad() {
    LoadReading reading;
    FILETIME idle, kernel, user, created, exited, ownKernel, ownUser;
    if (!GetSystemTimes(&idle, &kernel, &user)) return reading;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &ownKernel, &ownUser)) return reading;
    reading.idle = seconds(idle);
    reading.ownTime = seconds(ownKernel) + seconds(ownUser);
    reading.uptime = static_cast<double>(GetTickCount64()) / 1e3;
    reading.valid = true;
    return reading;
}

} // namespace platform
