#include "speed_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>

namespace vekbench {

namespace {

// Geometry, in pixels.
const double MARGIN = 16;
const double CHAR_WIDTH = 7;      // of the 12 px names, generously
const double PANEL_WIDTH = 360;   // bars' room in each panel
const double VALUE_ROOM = 34;     // right of a panel's bars, for the values
const double PANEL_GAP = 24;
const double ROW_HEIGHT = 22;
const double BAR_HEIGHT = 8;
const double HEADER_HEIGHT = 118; // title, subtitle, legend, panel titles, axis
const double TOTAL_GAP = 8;       // between the last picture and the totals
const double FOOTER_HEIGHT = 28;  // axis values under the panels

const char *const COLOUR[2] = {"#3b6fb6", "#e07b28"};
const char *const SERIES[2] = {"VEK-1 against bzip2 -9 / bzip2 -d", "VEK-n against lbzip2 -9 -n 2 / lbzip2 -d -n 2"};

std::string format(const char *pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof(text), pattern, args);
    va_end(args);
    return text;
}

// A chart row's four ratios: [encode, decode][VEK-1/bzip2, VEK-n/lbzip2].
struct Row {
    std::string name;
    double x[2][2];
    bool total = false;
};

Row rowOf(const std::string &name, const double seconds[OPS]) {
    Row r;
    r.name = name;
    r.x[0][0] = ratioOf(seconds[BZIP2_ENCODE], seconds[VEK1_ENCODE]);
    r.x[0][1] = ratioOf(seconds[LBZIP2_ENCODE], seconds[VEKN_ENCODE]);
    r.x[1][0] = ratioOf(seconds[BZIP2_DECODE], seconds[VEK1_DECODE]);
    r.x[1][1] = ratioOf(seconds[LBZIP2_DECODE], seconds[VEKN_DECODE]);
    for (auto &panel : r.x)
        for (double &v : panel)
            if (!std::isfinite(v) || v < 0) v = 0;
    return r;
}

// Distance between the axis' grid lines: about six to ten of them.
double tickStep(double axisMax) {
    for (double step : {0.25, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 50.0})
        if (axisMax / step <= 10) return step;
    return 100;
}

} // namespace

std::string xmlEscaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string speedChartSvg(const std::vector<PictureTimes> &pictures, const std::string &title) {
    std::vector<Row> rows;
    double sum[OPS] = {};
    size_t longestName = 5;  // "total"
    for (const PictureTimes &p : pictures) {
        rows.push_back(rowOf(p.name, p.seconds));
        for (int op = 0; op < OPS; ++op) sum[op] += p.seconds[op];
        longestName = std::max(longestName, p.name.size());
    }
    if (!pictures.empty()) {
        rows.push_back(rowOf("total", sum));
        rows.back().total = true;
    }

    // One scale for both panels, so that their bars compare.
    double largest = 0;
    for (const Row &r : rows)
        for (const auto &panel : r.x)
            for (double v : panel) largest = std::max(largest, v);
    const double axisMax = std::max(2.0, std::ceil(largest * 2) / 2);
    const double step = tickStep(axisMax);
    const double scale = PANEL_WIDTH / axisMax;

    const double nameWidth = static_cast<double>(longestName) * CHAR_WIDTH + 12;
    const double panelLeft[2] = {MARGIN + nameWidth, MARGIN + nameWidth + PANEL_WIDTH + VALUE_ROOM + PANEL_GAP};
    const double width = panelLeft[1] + PANEL_WIDTH + VALUE_ROOM + MARGIN;
    const double rowsTop = HEADER_HEIGHT;
    const double rowsBottom = rowsTop + static_cast<double>(rows.size()) * ROW_HEIGHT + (pictures.empty() ? 0 : TOTAL_GAP);
    const double height = rowsBottom + FOOTER_HEIGHT + MARGIN;
    auto rowTop = [&](size_t i) { return rowsTop + static_cast<double>(i) * ROW_HEIGHT + (rows[i].total ? TOTAL_GAP : 0); };

    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
                  "font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">\n",
                  width, height, width, height);
    svg += format("<rect width=\"%.0f\" height=\"%.0f\" fill=\"#ffffff\"/>\n", width, height);
    svg += format("<text x=\"%.0f\" y=\"%.0f\" font-size=\"16\" font-weight=\"bold\">", MARGIN, MARGIN + 14) +
           xmlEscaped(title) + "</text>\n";
    svg += format("<text x=\"%.0f\" y=\"%.0f\" fill=\"#444444\">x = peer time / VEK time, whole processes, "
                  "wall clock; right of the red line at 1 VEK is faster</text>\n",
                  MARGIN, MARGIN + 34);

    // Legend.
    double legendX = MARGIN;
    for (int s = 0; s < 2; ++s) {
        svg += format("<rect x=\"%.0f\" y=\"%.0f\" width=\"14\" height=\"%.0f\" fill=\"%s\"/>\n", legendX, MARGIN + 46,
                      BAR_HEIGHT + 2, COLOUR[s]);
        svg += format("<text x=\"%.0f\" y=\"%.0f\">%s</text>\n", legendX + 20, MARGIN + 56, SERIES[s]);
        legendX += 20 + static_cast<double>(std::string(SERIES[s]).size()) * CHAR_WIDTH + 24;
    }

    // Row shading under everything else, every other picture.
    for (size_t i = 0; i < rows.size(); ++i)
        if (i % 2 == 1 || rows[i].total)
            svg += format("<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"%s\"/>\n", MARGIN, rowTop(i),
                          width - 2 * MARGIN, ROW_HEIGHT, rows[i].total ? "#e4e4e4" : "#f2f2f2");

    for (int panel = 0; panel < 2; ++panel) {
        const double left = panelLeft[panel];
        svg += format("<text x=\"%.0f\" y=\"%.0f\" font-size=\"14\" font-weight=\"bold\">%s</text>\n", left, rowsTop - 22,
                      panel == 0 ? "Encode" : "Decode");
        // Grid and axis values, above and below the rows.
        for (int k = 0; k * step <= axisMax + 1e-9; ++k) {
            const double x = left + k * step * scale;
            svg += format("<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#cccccc\"/>\n", x, rowsTop, x, rowsBottom);
            for (double y : {rowsTop - 6, rowsBottom + 14})
                svg += format("<text x=\"%.1f\" y=\"%.0f\" font-size=\"10\" text-anchor=\"middle\" fill=\"#555555\">%g</text>\n",
                              x, y, k * step);
        }
        // The line at 1 under the bars, so that it never hides a value.
        const double one = left + scale;
        svg += format("<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#d62728\" stroke-width=\"1.5\"/>\n", one,
                      rowsTop - 2, one, rowsBottom + 2);
        for (size_t i = 0; i < rows.size(); ++i)
            for (int s = 0; s < 2; ++s) {
                const double v = rows[i].x[panel][s];
                const double y = rowTop(i) + 3 + s * BAR_HEIGHT;
                svg += format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.0f\" fill=\"%s\"/>\n", left, y, v * scale,
                              BAR_HEIGHT, COLOUR[s]);
                svg += format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"9\" fill=\"#222222\" stroke=\"#ffffff\" stroke-width=\"3\" "
                              "paint-order=\"stroke\">%.2f</text>\n", left + v * scale + 3,
                              y + BAR_HEIGHT - 1, v);
            }
    }

    // Picture names, right-aligned against the panels.
    for (size_t i = 0; i < rows.size(); ++i)
        svg += format("<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\"%s>", panelLeft[0] - 8, rowTop(i) + ROW_HEIGHT / 2 + 4,
                      rows[i].total ? " font-weight=\"bold\"" : "") +
               xmlEscaped(rows[i].name) + "</text>\n";
    svg += "</svg>\n";
    return svg;
}

bool writeSpeedChart(const std::string &path, const std::vector<PictureTimes> &pictures, const std::string &title) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << speedChartSvg(pictures, title);
    out.close();
    return static_cast<bool>(out);
}

} // namespace vekbench
