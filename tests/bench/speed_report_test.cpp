#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "speed_chart.h"
#include "speed_targets.h"

using namespace vekbench;

namespace {

// A picture where VEK beats every target by far; tests spoil one figure.
PictureTimes fastPicture(const std::string &name) {
    PictureTimes p;
    p.name = name;
    p.seconds[VEK1_ENCODE] = 1.0;
    p.seconds[VEKN_ENCODE] = 0.5;
    p.seconds[BZIP2_ENCODE] = 3.0;
    p.seconds[LBZIP2_ENCODE] = 1.0;
    p.seconds[VEK1_DECODE] = 0.5;
    p.seconds[VEKN_DECODE] = 0.3;
    p.seconds[BZIP2_DECODE] = 1.0;
    p.seconds[LBZIP2_DECODE] = 0.6;
    return p;
}

TargetCheck find(const std::vector<TargetCheck> &checks, const std::string &start) {
    for (const TargetCheck &c : checks)
        if (c.what.compare(0, start.size(), start) == 0) return c;
    ADD_FAILURE() << "no target line starts with " << start;
    return {};
}

const char LEAST_DECODE_THREADS[] = "two threads against one: least decode";
const char LBZIP2_ENCODE_TOTAL[] = "two threads against lbzip2 -9 -n 2: total encode";
const char BZIP2_ENCODE_EVERY[] = "one thread against bzip2 -9: least encode";

} // namespace

TEST(SpeedTargets, AllMetOnAFastTableAndNoneOnAnEmptyOne) {
    const std::vector<PictureTimes> table = {fastPicture("a"), fastPicture("b")};
    const std::vector<TargetCheck> checks = speedTargets(table);
    ASSERT_EQ(checks.size(), 7u);
    for (const TargetCheck &c : checks) EXPECT_TRUE(c.met) << c.what;
    for (const TargetCheck &c : speedTargets({})) EXPECT_FALSE(c.met) << c.what;
}

TEST(SpeedTargets, TwoThreadsMayDecodeAsFastButNeverSlower) {
    std::vector<PictureTimes> table = {fastPicture("a"), fastPicture("b"), fastPicture("c")};
    table[1].seconds[VEKN_DECODE] = table[1].seconds[VEK1_DECODE];
    TargetCheck c = find(speedTargets(table), LEAST_DECODE_THREADS);
    EXPECT_TRUE(c.met) << c.what;
    EXPECT_NE(c.what.find("= 1.0000 (b)"), std::string::npos) << c.what;

    table[2].seconds[VEKN_DECODE] = table[2].seconds[VEK1_DECODE] * 1.001;
    c = find(speedTargets(table), LEAST_DECODE_THREADS);
    EXPECT_FALSE(c.met) << c.what;
    EXPECT_NE(c.what.find("= 0.9990 (c)"), std::string::npos) << c.what;
}

TEST(SpeedTargets, TotalsAreRatiosOfSummedTimesAndOnePictureMissesAnEveryPictureTarget) {
    // Per picture 10x and 1x against lbzip2: their mean passes 1.3, the
    // summed times (11 s against 10.1 s) do not.
    std::vector<PictureTimes> table = {fastPicture("short"), fastPicture("long")};
    table[0].seconds[LBZIP2_ENCODE] = 1.0;
    table[0].seconds[VEKN_ENCODE] = 0.1;
    table[1].seconds[LBZIP2_ENCODE] = 10.0;
    table[1].seconds[VEKN_ENCODE] = 10.0;
    const TargetCheck total = find(speedTargets(table), LBZIP2_ENCODE_TOTAL);
    EXPECT_FALSE(total.met) << total.what;
    EXPECT_NE(total.what.find("= 1.09"), std::string::npos) << total.what;

    // 1.04x bzip2 on one picture misses, however fast the others are.
    table = {fastPicture("a"), fastPicture("slow"), fastPicture("c")};
    table[1].seconds[BZIP2_ENCODE] = 1.04 * table[1].seconds[VEK1_ENCODE];
    const TargetCheck every = find(speedTargets(table), BZIP2_ENCODE_EVERY);
    EXPECT_FALSE(every.met) << every.what;
    EXPECT_NE(every.what.find("(slow)"), std::string::npos) << every.what;
}

TEST(SpeedChart, NamesAndTitleAreEscapedAndMissingTimesDrawNoBrokenNumbers) {
    std::vector<PictureTimes> table = {fastPicture("a&b<c>\"d'"), fastPicture("zero")};
    table[1].seconds[VEK1_DECODE] = 0;  // a run that measured nothing
    const std::string svg = speedChartSvg(table, "run <1> & load");
    EXPECT_EQ(xmlEscaped("a&b<c>\"d'"), "a&amp;b&lt;c&gt;&quot;d&apos;");
    EXPECT_NE(svg.find(">a&amp;b&lt;c&gt;&quot;d&apos;</text>"), std::string::npos);
    EXPECT_EQ(svg.find("a&b"), std::string::npos);
    EXPECT_NE(svg.find(">run &lt;1&gt; &amp; load</text>"), std::string::npos);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
    EXPECT_EQ(svg.rfind("</svg>"), svg.size() - 7);
}
