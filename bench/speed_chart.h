// A bar chart, as a plain SVG document, of each picture's speed against the
// peers: x = peer time / VEK time for VEK-1 against bzip2 and VEK-n against
// lbzip2, in an encode and a decode panel, one row per picture and a last
// row for the totals.
#ifndef VEK_BENCH_SPEED_CHART_H
#define VEK_BENCH_SPEED_CHART_H

#include <string>
#include <vector>

#include "speed_targets.h"

namespace vekbench {

// Text with the five characters that XML gives a meaning replaced by entities.
std::string xmlEscaped(const std::string &text);

// The whole SVG document; `title` heads it (which run it is).
std::string speedChartSvg(const std::vector<PictureTimes> &pictures, const std::string &title);

// Writes speedChartSvg to `path`; false when the file could not be written.
bool writeSpeedChart(const std::string &path, const std::vector<PictureTimes> &pictures, const std::string &title);

} // namespace vekbench

#endif
