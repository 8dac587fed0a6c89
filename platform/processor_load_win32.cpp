// Processor load on Windows: GetSystemTimes gives the idle time summed over
// the processors, GetThreadTimes the calling thread's own time (both in 100 ns
// units, counted in clock ticks of 1/64 s), the performance counter the
// steady clock.
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
    LARGE_INTEGER now, frequency;
    if (!QueryPerformanceCounter(&now) || !QueryPerformanceFrequency(&frequency)) return reading;
    reading.clock = static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
    reading.idleStep = 1.0 / 64;
    reading.valid = true;
    return reading;
}

} // namespace platform
