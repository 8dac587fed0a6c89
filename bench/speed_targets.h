// The speed targets of the folder benchmark, judged on the wall-clock times
// of whole processes: VEK with one thread (VEK-1) and with the default
// threads (VEK-n) against bzip2 -9 / bzip2 -d, lbzip2 -9 -n 2 /
// lbzip2 -d -n 2, and against each other.
#ifndef VEK_BENCH_SPEED_TARGETS_H
#define VEK_BENCH_SPEED_TARGETS_H

#include <string>
#include <vector>

namespace vekbench {

// The eight runs of a round, in the order they run.
enum Op { VEK1_ENCODE, VEKN_ENCODE, BZIP2_ENCODE, LBZIP2_ENCODE, VEK1_DECODE, VEKN_DECODE, BZIP2_DECODE, LBZIP2_DECODE, OPS };

// One picture's time (seconds) for each run.
struct PictureTimes {
    std::string name;
    double seconds[OPS] = {};
};

// a / b, 0 when b is not positive. Of times, peer / VEK is the speed of VEK
// against the peer (above 1: VEK is faster).
double ratioOf(double a, double b);

// How a report shows a target: "met" or "MISSED".
inline const char *metOrMissed(bool met) {
    return met ? "met" : "MISSED";
}

struct TargetCheck {
    std::string what;  // the target with its measured value
    bool met = false;
};

// Every speed target over `pictures`, each with the measured value: totals
// are ratios of summed times, per-picture targets name the least picture.
std::vector<TargetCheck> speedTargets(const std::vector<PictureTimes> &pictures);

} // namespace vekbench

#endif
