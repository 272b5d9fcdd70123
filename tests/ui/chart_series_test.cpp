// The chart's data and the link's health, without a widget: where lines break,
// what an outage is, and when values stop being current.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <regex>
#include <vector>

#include "network/evaluators.h"
#include "ui/chart_series.h"
#include "ui/link_health.h"
#include "ui/picture_file.h"

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

TEST(ChartSeries, BandsAreTheNewestOutagesWithinTheSpan) {
    ChartSeries series;
    series.Add(0, Inputs(1), Outputs(1), false);
    // Ten outages of 2 s, each after a good pass; the last one lasts.
    for (int n = 0; n < 10; ++n) {
        series.AddFailure(1 + 5 * n);
        series.AddFailure(2 + 5 * n);
        if (n < 9) series.Add(2 + 5 * n, Inputs(1), Outputs(1), false);
    }
    const std::vector<ChartBand> bands = series.Bands();
    ASSERT_EQ(bands.size(), kChartMaxBands);
    // Oldest first, in seconds before the newest failure (47).
    EXPECT_EQ(bands.front(), (ChartBand{7 - 47.0, 12 - 47.0, "link down 5 s"}));
    EXPECT_EQ(bands.back(), (ChartBand{42 - 47.0, 0, "link down 5 s…"}));

    // An outage that began before the span starts at its left edge.
    ChartSeries old;
    old.Add(0, Inputs(1), Outputs(1), false);
    old.AddFailure(90);
    ASSERT_EQ(old.Bands().size(), 1u);
    EXPECT_DOUBLE_EQ(old.Bands()[0].start, -kChartSpanSeconds);
    EXPECT_EQ(old.Bands()[0].label, "link down 90 s…");
}

TEST(ChartSeries, ReadingIsTheShownSeriesNearestTheMouse) {
    ChartSeries series;
    NetInputs in{};
    NetOutputs out{};
    for (int k = 0; k < NET_INPUT_COUNT; ++k) {
        in[k] = std::uint16_t(10 * k);
        out[k] = std::uint16_t(200 + k);
    }
    series.Add(10, in, out, false);
    series.Add(11, Inputs(0), Outputs(0), false);
    std::array<bool, kChartSeriesCount> all{};
    all.fill(true);
    std::array<bool, kChartSeriesCount> noIn3 = all;
    noIn3[2] = false;
    std::array<bool, kChartSeriesCount> noOutputs = all;
    for (int k = NET_INPUT_COUNT; k < kChartSeriesCount; ++k) noOutputs[k] = false;
    const struct {
        double key, value;
        int first;
        const std::array<bool, kChartSeriesCount>& shown;
        std::optional<ChartReading> expected;
    } cases[] = {
        {-0.9, 19, 0, all, ChartReading{2, 20, -1}},    // in3 at the older pass
        {-0.9, 19, 0, noIn3, ChartReading{1, 10, -1}},  // a hidden series is passed over
        {-0.9, 25, 0, all, ChartReading{2, 20, -1}},    // equally near: the first
        {-0.9, 300, NET_INPUT_COUNT, all, ChartReading{15, 207, -1}},  // the outputs' plot
        {-0.2, 300, NET_INPUT_COUNT, all, ChartReading{8, 0, 0}},      // the newer pass
        {-0.9, 100, NET_INPUT_COUNT, noOutputs, std::nullopt},         // none shown
    };
    for (const auto& c : cases) {
        EXPECT_EQ(series.Reading(c.key, c.value, c.first, c.shown), c.expected)
            << c.key << " " << c.value << " " << c.first;
    }
    EXPECT_EQ(ChartSeries{}.Reading(0, 0, 0, all), std::nullopt);
}

TEST(ChartSeries, SamplesCarryTheHostsPredictionAndTheirGaps) {
    ModuleWeights weights{};
    for (std::size_t n = 0; n < weights.size(); ++n) weights[n] = std::int16_t(n % 7 * 300 - 900);
    std::vector<PassSample> samples(3);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        samples[n].steady = std::chrono::steady_clock::time_point(std::chrono::seconds(5 + n));
        samples[n].inputs = Inputs(std::uint16_t(40 * n));
        samples[n].outputs = Outputs(std::uint16_t(n == 2 ? 300 : n));
    }
    ChartSeries series;
    series.Add(samples, {false, false, true}, &weights);
    ASSERT_EQ(series.Points().size(), 3u);
    EXPECT_DOUBLE_EQ(series.Now(), ChartSeconds(samples[2].steady));
    EXPECT_FALSE(series.Points()[1].breakBefore);
    EXPECT_TRUE(series.Points()[2].breakBefore);
    EXPECT_EQ(series.Points()[2].values[NET_INPUT_COUNT], 255);  // clipped as on the sliders
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const NetOutputs host = EvaluateInt(samples[n].inputs, weights);
        for (int k = 0; k < NET_OUTPUT_COUNT; ++k)
            EXPECT_EQ(series.Points()[n].host[k], std::min<int>(host[k], 255)) << n << " " << k;
    }
    // Without weights (Compare off) no prediction, and a short afterGap joins.
    ChartSeries plain;
    plain.Add(samples, {}, nullptr);
    EXPECT_FALSE(plain.Points()[2].breakBefore);
    EXPECT_EQ(plain.Points()[0].host[0], kNoHostValue);
}

TEST(ChartFrame, LinePixelsDropPointsOnThePixelBefore) {
    const double nan = std::nan("");
    const struct {
        std::vector<ChartLinePoint> line;
        std::vector<ChartPixel> expected;
    } cases[] = {
        {{}, {}},
        // 10 px a second, 1 px a value step: points 0.04 s apart share a pixel.
        {{{-1, 5}, {-0.96, 5.4}, {-0.5, 5}}, {{-10, 5}, {-5, 5}}},
        // A break is a pixel of its own, never merged into a point's.
        {{{-1, 5}, {-1, nan}, {-1, 5}}, {{-10, 5}, {-10, -1}, {-10, 5}}},
        {{{-2, 0}, {-1.5, nan}, {-1, 255}}, {{-20, 0}, {-15, -1}, {-10, 255}}},
    };
    for (const auto& c : cases) EXPECT_EQ(LinePixels(c.line, 10, 1), c.expected) << c.line.size();
    // At half the scale two neighbours fall together.
    EXPECT_EQ(LinePixels({{-1, 4}, {-1, 5}}, 10, 0.5),
              (std::vector<ChartPixel>{{-10, 2}, {-10, 3}}));
    EXPECT_EQ(LinePixels({{-1, 4}, {-1, 4.4}}, 10, 0.5), (std::vector<ChartPixel>{{-10, 2}}));
}

TEST(ChartFrame, TimeRangeStaysWithinTheSpanAndAboveTheNarrowest) {
    const double span = kChartSpanSeconds;
    const double least = kChartMinSpanSeconds;
    const struct {
        ChartTimeRange asked, expected;
    } cases[] = {
        {{-30, -10}, {-30, -10}},                       // inside: as asked
        {{-10, 5}, {-15, 0}},                           // past now: moved back
        {{-span - 5, -span + 5}, {-span, -span + 10}},  // before the span: moved on
        {{-100, 10}, {-span, 0}},                       // wider than the span: all of it
        {{-20, -20 + least / 5}, {-20 + least / 10 - least / 2, -20 + least / 10 + least / 2}},
        {{-0.1, 0}, {-least, 0}},                        // too narrow at now
        {{-span, -span + 0.1}, {-span, -span + least}},  // too narrow at the left edge
    };
    for (const auto& c : cases) {
        const ChartTimeRange got = BoundTimeRange(c.asked);
        EXPECT_NEAR(got.lower, c.expected.lower, 1e-9) << c.asked.lower << " " << c.asked.upper;
        EXPECT_NEAR(got.upper, c.expected.upper, 1e-9) << c.asked.lower << " " << c.asked.upper;
    }
}

TEST(PictureFile, APngIsWrittenWholeOrNotAtAll) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage picture(31, 17, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    picture.setPixel(3, 4, qRgb(250, 1, 2));
    const QString path = dir.filePath(QStringLiteral("chart.png"));
    // An older, longer file there is replaced, not written over in part.
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
    }
    ASSERT_EQ(SavePicturePng(picture, path), FileResult::Ok);
    const QImage read(path);
    ASSERT_EQ(read.size(), picture.size());
    EXPECT_EQ(read.pixel(3, 4), qRgb(250, 1, 2));
    EXPECT_LT(QFile(path).size(), 100000);

    EXPECT_EQ(SavePicturePng(picture, dir.filePath(QStringLiteral("missing/chart.png"))),
              FileResult::OpenFailed);
    // A picture that cannot be encoded leaves the file as it was.
    EXPECT_EQ(SavePicturePng(QImage(), path), FileResult::WriteFailed);
    EXPECT_EQ(QImage(path).pixel(3, 4), qRgb(250, 1, 2));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"chart.png"});
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
