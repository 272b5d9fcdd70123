// The chart's data and the link's health, without a widget: where lines break,
// what an outage is, and when values stop being current.

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <vector>

#include "ui/chart_series.h"
#include "ui/link_health.h"

namespace {

NetInputs Inputs(std::uint16_t v) {
    NetInputs in{};
    in.fill(v);
    return in;
}

NetOutputs Outputs(std::uint16_t v) {
    NetOutputs out{};
    out.fill(v);
    return out;
}

std::vector<ChartLinePoint> LineOf(const ChartSeries& series, int k, bool host = false) {
    std::vector<ChartLinePoint> line;
    series.Line(k, -kChartSpanSeconds, line, host);
    return line;
}

int Breaks(const std::vector<ChartLinePoint>& line) {
    int breaks = 0;
    for (const ChartLinePoint& p : line) breaks += std::isnan(p.value) ? 1 : 0;
    return breaks;
}

TEST(ChartSeries, AFailedPassBreaksTheLineAndMarksAnOutage) {
    ChartSeries series;
    for (int n = 0; n < 5; ++n) series.Add(100 + n * 0.2, Inputs(10 + n), Outputs(20 + n), false);
    // The module is gone for 13 s: passes fail, none has values.
    for (int n = 0; n < 10; ++n) series.AddFailure(101 + n * 1.3);
    EXPECT_TRUE(series.InOutage());
    EXPECT_DOUBLE_EQ(series.Now(), 101 + 9 * 1.3);  // time runs on while passes fail
    ASSERT_EQ(series.Outages().size(), 1u);
    EXPECT_DOUBLE_EQ(series.Outages()[0].start, 100.8);  // from the last good pass
    series.Add(113.8, Inputs(200), Outputs(100), false);
    EXPECT_FALSE(series.InOutage());
    EXPECT_NEAR(series.Outages()[0].Length(), 13.0, 1e-9);

    const auto line = LineOf(series, 0);
    EXPECT_EQ(Breaks(line), 1);
    // Never a ramp from the last value before to the first after.
    for (std::size_t n = 1; n < line.size(); ++n) {
        if (line[n].key > -13.0 && line[n].key < 0) {
            EXPECT_TRUE(std::isnan(line[n].value));
        }
    }
    EXPECT_DOUBLE_EQ(line.back().key, 0);
    EXPECT_DOUBLE_EQ(line.back().value, 200);
}

TEST(ChartSeries, APassAfterAGapIsNotJoinedButNoOutageIsMarked) {
    ChartSeries series;
    series.Add(10, Inputs(1), Outputs(1), false);
    series.Add(10.2, Inputs(2), Outputs(2), false);
    series.Add(15, Inputs(3), Outputs(3), true);  // Hold came between
    EXPECT_TRUE(series.Outages().empty());
    const auto line = LineOf(series, NET_INPUT_COUNT);
    ASSERT_EQ(line.size(), 4u);
    EXPECT_TRUE(std::isnan(line[2].value));
}

TEST(ChartSeries, KeepsOneMinuteAndRunsTheLineInFromTheLeftEdge) {
    ChartSeries series;
    for (int n = 0; n <= 700; ++n) series.Add(n * 0.1, Inputs(n % 2 ? 0 : 100), Outputs(7), false);
    // The span and the one point before it.
    EXPECT_LE(series.Points().size(), std::size_t(kChartSpanSeconds * 10 + 2));
    EXPECT_LE(series.Points().front().seconds, 70.0 - kChartSpanSeconds + 1e-9);
    const auto line = LineOf(series, 0);
    EXPECT_DOUBLE_EQ(line.front().key, -kChartSpanSeconds);
    // A run of one value is its two ends.
    const auto flat = LineOf(series, NET_INPUT_COUNT);
    ASSERT_EQ(flat.size(), 2u);
    EXPECT_DOUBLE_EQ(flat[1].key, 0);
    // Old outages go with their points.
    series.AddFailure(71);
    series.Add(72, Inputs(0), Outputs(0), false);
    series.Add(200, Inputs(0), Outputs(0), false);
    EXPECT_TRUE(series.Outages().empty());
}

TEST(ChartSeries, TheHostLineBreaksWhereNoPredictionWasMade) {
    ChartSeries series;
    series.Add(1, Inputs(0), Outputs(5), false, Outputs(9));
    series.Add(1.2, Inputs(0), Outputs(5), false, Outputs(9));
    series.Add(1.4, Inputs(0), Outputs(5), false);  // Compare off
    series.Add(1.6, Inputs(0), Outputs(5), false, Outputs(4));
    const auto host = LineOf(series, 2, true);
    ASSERT_EQ(host.size(), 4u);
    EXPECT_DOUBLE_EQ(host[0].value, 9);
    EXPECT_TRUE(std::isnan(host[2].value));
    EXPECT_DOUBLE_EQ(host[3].value, 4);
}

TEST(ChartSeries, NearestPointInTime) {
    ChartSeries series;
    EXPECT_EQ(series.Nearest(3), nullptr);
    for (double t : {1.0, 2.0, 4.0}) series.Add(t, Inputs(std::uint16_t(t)), Outputs(0), false);
    const struct {
        double at;
        double expected;
    } cases[] = {{0, 1}, {1.4, 1}, {1.6, 2}, {2.9, 2}, {3.1, 4}, {9, 4}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(series.Nearest(c.at)->seconds, c.expected) << c.at;
}

TEST(LinkHealth, ValuesAreCurrentOnlyWhileGoodPassesCome) {
    using namespace std::chrono;
    LinkHealth health;
    const auto t0 = steady_clock::time_point(seconds(1000));
    const auto wall = system_clock::now();
    const LinkError gone{LinkStage::Read, 5};
    // The simulators compute their values: always current.
    health.Pass(MODE_SIM_INT, true, {}, t0, wall);
    EXPECT_FALSE(health.Stale(t0 + seconds(30)));
    health.Pass(MODE_MONITOR, true, {}, t0, wall);
    EXPECT_FALSE(health.Stale(t0 + milliseconds(900)));
    EXPECT_TRUE(health.Stale(t0 + milliseconds(1100)));  // silence
    health.Pass(MODE_MONITOR, false, gone, t0 + milliseconds(200), wall + milliseconds(200));
    EXPECT_TRUE(health.Stale(t0 + milliseconds(250)));  // a failure at once
    EXPECT_TRUE(health.Down());
    EXPECT_EQ(health.LastFailure().code, 5);
    health.Pass(MODE_MONITOR, true, {}, t0 + seconds(13), wall + seconds(13));
    EXPECT_FALSE(health.Stale(t0 + seconds(13)));
    ASSERT_EQ(health.Outages().size(), 1u);
    const std::string text = LinkHealth::OutageText(health.Outages()[0]);
    EXPECT_TRUE(std::regex_match(text, std::regex("link down 13 s at \\d\\d:\\d\\d:\\d\\d")))
        << text;
    // Only the last few are kept.
    for (int n = 0; n < 10; ++n) {
        const auto t = t0 + seconds(20 + 2 * n);
        health.Pass(MODE_EMULATOR, false, gone, t, wall);
        health.Pass(MODE_EMULATOR, true, {}, t + seconds(1), wall);
    }
    EXPECT_EQ(health.Outages().size(), kMaxLinkEvents);
}

}  // namespace
