// Processor load layer for the codec: how many processors an operation's
// thread had at its disposal over a stretch of the operation, so that an operation
// takes a second thread only where a processor is free for it. Where other
// work keeps the processors busy, a second thread only competes with the
// first for the same processor time, and the operation ends later than
// with one thread.
#ifndef VEK_PLATFORM_PROCESSOR_LOAD_H
#define VEK_PLATFORM_PROCESSOR_LOAD_H

namespace platform {

// The system's idle time summed over its processors, the calling thread's
// own processor time and a steady clock, all in seconds, and the steps in
// which the system counts idle time; `valid` false where the system does
// not tell.
struct LoadReading {
    double clock = 0;
    double idle = 0;
    double ownTime = 0;
    double idleStep = 0;
    bool valid = false;
};

LoadReading readProcessorLoad();

// Processors the calling thread had on average between two readings (both
// taken in it): those that stood idle and the one that ran it, that is all
// but the ones other work kept busy, other threads of the same process
// included. -1 when that cannot be told: a reading missing, or a stretch
// shorter than 2.5 steps of the idle count. The idle time between two
// readings is known within one step, so over 2.5 steps the result is known
// within 0.4 processors: enough to tell one free processor from two.
inline double processorsFreeForThread(const LoadReading &from, const LoadReading &to) {
    const double STEPS_TO_TELL = 2.5;
    if (!from.valid || !to.valid) return -1;
    const double elapsed = to.clock - from.clock;
    if (elapsed <= 0 || elapsed < STEPS_TO_TELL * to.idleStep) return -1;
    const double free = (to.idle - from.idle) + (to.ownTime - from.ownTime);
    return free > 0 ? free / elapsed : 0;
}

} // namespace platform

#endif
