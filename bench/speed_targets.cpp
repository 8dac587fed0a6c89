#include "speed_targets.h"

#include <cstdio>

namespace vekbench {

namespace {

std::string format(const char *pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof(text), pattern, value);
    return text;
}

// The least of peer / vek over the pictures, and the picture that has it.
struct Least {
    double value = 0;
    std::string name;
};

Least leastRatio(const std::vector<PictureTimes> &pictures, Op peer, Op vek) {
    Least least;
    bool first = true;
    for (const PictureTimes &p : pictures) {
        const double r = ratioOf(p.seconds[peer], p.seconds[vek]);
        if (first || r < least.value) {
            least.value = r;
            least.name = p.name;
            first = false;
        }
    }
    return least;
}

// Ratio of the summed times of two runs.
double totalRatio(const std::vector<PictureTimes> &pictures, Op peer, Op vek) {
    double peerSum = 0, vekSum = 0;
    for (const PictureTimes &p : pictures) {
        peerSum += p.seconds[peer];
        vekSum += p.seconds[vek];
    }
    return ratioOf(peerSum, vekSum);
}

TargetCheck total(const std::vector<PictureTimes> &pictures, const std::string &what, Op peer, Op vek, double want) {
    const double x = totalRatio(pictures, peer, vek);
    return {what + format(" = %.2f", x) + format(" (want >= %g)", want), x >= want};
}

TargetCheck everyPicture(const std::vector<PictureTimes> &pictures, const std::string &what, Op peer, Op vek, double want,
                         const char *valueFormat) {
    const Least least = leastRatio(pictures, peer, vek);
    return {what + format(valueFormat, least.value) + " (" + least.name + ")" + format(" (want >= %g on every picture)", want),
            !pictures.empty() && least.value >= want};
}

} // namespace

double ratioOf(double a, double b) {
    return b > 0 ? a / b : 0;
}

std::vector<TargetCheck> speedTargets(const std::vector<PictureTimes> &pictures) {
    return {
        total(pictures, "two threads against lbzip2 -9 -n 2: total encode x", LBZIP2_ENCODE, VEKN_ENCODE, 1.3),
        total(pictures, "two threads against lbzip2 -d -n 2: total decode x", LBZIP2_DECODE, VEKN_DECODE, 1.5),
        total(pictures, "two threads against one: total encode VEK-1 / VEK-n", VEK1_ENCODE, VEKN_ENCODE, 1.5),
        // Equal times count as met: the rule is that two threads never decode slower.
        everyPicture(pictures, "two threads against one: least decode VEK-1 / VEK-n", VEK1_DECODE, VEKN_DECODE, 1, " = %.4f"),
        everyPicture(pictures, "one thread against bzip2 -9: least encode x", BZIP2_ENCODE, VEK1_ENCODE, 1.05, " = %.2f"),
        everyPicture(pictures, "one thread against bzip2 -d: least decode x", BZIP2_DECODE, VEK1_DECODE, 1.1, " = %.2f"),
        total(pictures, "one thread against bzip2 -9: total encode x", BZIP2_ENCODE, VEK1_ENCODE, 2),
    };
}

} // namespace vekbench
